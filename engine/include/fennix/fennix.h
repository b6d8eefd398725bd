/*
 * Fennix: flashing and NV backup/restore of Qualcomm MSM devices over serial
 * ports. The library's whole public interface: seventeen functions with the
 * standard Windows calling convention and plain (undecorated) export names, so
 * that C callers and Python ctypes can use Fennix.dll / libFennix.so directly.
 *
 * Strings are 8-bit and NUL-terminated; a null string counts as empty. A
 * session handle comes from SetComPort and is the caller's until Close. A
 * handle that is not a live session (null, never made, closed, or being
 * closed) touches nothing: each function then returns at once with the
 * failure value it names below. Handles are never given twice, so a closed
 * handle never reaches a later session.
 */
#ifndef FENNIX_FENNIX_H
#define FENNIX_FENNIX_H

#include <stdint.h>

#if defined(_WIN32)
#define FENNIX_CALL __stdcall
#define FENNIX_API
#else
#define FENNIX_CALL
#define FENNIX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque session handle. */
typedef void* FennixHandle;

/* Progress line for the operator: status 0 for progress or success, -1 for a
 * failure. Called on the thread that runs the flow; the text is valid only
 * during the call. C calling convention. */
typedef void (*ProgressCallback)(const char* text, int32_t status);

/* Opens and closes the daily diagnostic log. Returns: 0. */
FENNIX_API int32_t FENNIX_CALL StartLog(void);
FENNIX_API int32_t FENNIX_CALL EndLog(void);

/* Returns: a session on the port; null when none can be made. */
FENNIX_API FennixHandle FENNIX_CALL SetComPort(const char* portName);
/* Returns: 1; -1 when the handle is not a live session. */
FENNIX_API int32_t FENNIX_CALL SetHexFile(FennixHandle session, const char* programmerPath);
/* Returns: 0; -1 when the handle is not a live session. */
FENNIX_API int32_t FENNIX_CALL SetMbnFile(FennixHandle session, const char* partition, const char* obl, const char* pbl,
                                          const char* qcsblhd, const char* qcsbl, const char* oemsblhd,
                                          const char* oemsbl, const char* amsshd, const char* amss, const char* cefs);
/* Returns: 0; -1 when the handle is not a live session. */
FENNIX_API int32_t FENNIX_CALL SetSkipCheck(FennixHandle session);
/* Returns: 0; -1 when the handle is not a live session. */
FENNIX_API int32_t FENNIX_CALL SetCallBack(FennixHandle session, ProgressCallback callback);

/* How StartDownload streams the images into flash. `window`: 1 (what a new
 * session does) sends each stream write once the one before it was answered;
 * FENNIX_STREAM_AUTO (0) keeps as many writes outstanding as the device
 * announces in its hello reply; N > 1 at most N, and never more than the
 * device announces nor more than 1 MiB of blocks outstanding. A device whose
 * hello reply does not announce a window (or announces 0 or 1) is streamed
 * one write at a time, whatever is asked.
 * `blockAuto`: 1 sends blocks of the largest size the device announces (at
 * most 32768 bytes); 0 (what a new session does) blocks of 1024 bytes.
 * Returns: 0; -1 when the handle is not a live session, `window` is not 0 to
 * 65535 or `blockAuto` not 0 or 1. */
#define FENNIX_STREAM_AUTO 0
FENNIX_API int32_t FENNIX_CALL SetStreaming(FennixHandle session, int32_t window, int32_t blockAuto);
/* Returns: 1 when every image was written and the device came back (or the
 * check was skipped); otherwise a negative value: -1 (the device did not come
 * back after the reset among others), -2 when the reset request failed, or
 * the 0xF00003xx code of the exchange that failed (0xF0000313 when
 * cancelled). -1 when the handle is not a live
 * session. The operator's failure line says which step failed. */
FENNIX_API int32_t FENNIX_CALL StartDownload(FennixHandle session);
/* Frees the session. Returns: 0 (also for a handle that is not a session).
 * From another thread while a flow runs on it, it first cancels the flow
 * (which ends promptly with its failure line and a negative result,
 * 0xF0000313 when it was waiting on the device) and waits for it; a second
 * Close meanwhile also returns only once the session is freed. From the
 * flow's own thread (inside the progress callback) it cancels the flow and
 * returns at once; the session is freed when the flow has returned, and the
 * handle is no live session from the moment Close was called. */
FENNIX_API int32_t FENNIX_CALL Close(FennixHandle session);

/* Returns: 0; -1 when the handle is not a live session. */
FENNIX_API int32_t FENNIX_CALL SetCsvBrtFile(FennixHandle session, const char* csvPath, const char* brtPath);
/* Returns: 1 when the backup (restore) succeeded; -1 when it failed or the
 * handle is not a live session. */
FENNIX_API int32_t FENNIX_CALL StartBackupBrt(FennixHandle session);
FENNIX_API int32_t FENNIX_CALL StartRestoreBrt(FennixHandle session);
/* Reads the duck file into the session's item lists. Returns: 1 when it was
 * read whole; 0 when it cannot be read or is damaged (the lists are then
 * empty) or the handle is not a live session. */
FENNIX_API int32_t FENNIX_CALL DuckToNVArray(FennixHandle session, const char* duckPath);
/* Writes the item lists into the device. Returns: 1 when every item and file
 * was stored; 0 when one was not, the port could not be opened, the device
 * did not enter DIAG mode, or the handle is not a live session. */
FENNIX_API int32_t FENNIX_CALL NVArrayToMobile(FennixHandle session);

/* ---- Events: what a flow is doing, typed ----
 *
 * Beside the operator's lines, a session can tell its caller, for every flow
 * (StartDownload, StartBackupBrt, StartRestoreBrt, NVArrayToMobile), which
 * stage it is in, how far within that stage it is, every operator line, and
 * how it ended and why. A front-end takes stage, progress and result from
 * these events and never from the text of the lines. */

/* The stages of a flow, in the order a download passes them. */
typedef enum FennixStage {
    FENNIX_STAGE_NONE = 0,
    FENNIX_STAGE_OPEN = 1,            /* opening the port, probing the device */
    FENNIX_STAGE_MODE_SWITCH = 2,     /* into download or DIAG mode */
    FENNIX_STAGE_PROGRAMMER = 3,      /* the programmer written into RAM; progress in bytes */
    FENNIX_STAGE_HELLO = 4,           /* hello and security mode */
    FENNIX_STAGE_PARTITION_TABLE = 5, /* the partition table */
    FENNIX_STAGE_IMAGE_OPEN = 6,      /* image `image` opened (header sent) */
    FENNIX_STAGE_IMAGE_WRITE = 7,     /* image `image` streamed; progress in bytes */
    FENNIX_STAGE_IMAGE_CLOSE = 8,     /* image `image` closed */
    FENNIX_STAGE_RESET = 9,           /* the reset request and the pause after it */
    FENNIX_STAGE_POWER_ON_CHECK = 10, /* waiting for the device to come back */
    FENNIX_STAGE_NV_ITEM = 11,        /* NV items and device files; progress in items */
    FENNIX_STAGE_FILE = 12            /* reading or writing a file on this computer */
} FennixStage;

/* Why a flow failed. The set is small and closed; a cause is never more
 * specific than the engine knows. */
typedef enum FennixCause {
    FENNIX_CAUSE_NONE = 0,                /* the flow succeeded */
    FENNIX_CAUSE_PORT_MISSING = 1,        /* no such port */
    FENNIX_CAUSE_PORT_BUSY = 2,           /* another program holds the port */
    FENNIX_CAUSE_PORT_FORBIDDEN = 3,      /* no permission to open the port */
    FENNIX_CAUSE_NO_ANSWER = 4,           /* the device did not answer the probe */
    FENNIX_CAUSE_MODE_SWITCH_FAILED = 5,  /* it did not enter download or DIAG mode */
    FENNIX_CAUSE_PROGRAMMER_REFUSED = 6,  /* the programmer stage failed */
    FENNIX_CAUSE_IMAGE_OPEN_REFUSED = 7,  /* an image (or the partition table) was refused at its open */
    FENNIX_CAUSE_IMAGE_WRITE_REFUSED = 8, /* ... while it was written */
    FENNIX_CAUSE_IMAGE_CLOSE_REFUSED = 9, /* ... at its close */
    FENNIX_CAUSE_NOT_BACK_AFTER_RESET = 10, /* the device did not come back after the reset */
    FENNIX_CAUSE_STOPPED_ANSWERING = 11,  /* the device stopped answering */
    FENNIX_CAUSE_FILE_MISSING = 12,       /* a file of this computer is missing or unreadable */
    FENNIX_CAUSE_FILE_DAMAGED = 13,       /* a file of this computer is damaged */
    FENNIX_CAUSE_CANCELLED = 14,          /* Close cancelled the flow */
    FENNIX_CAUSE_DEVICE_REFUSED = 15      /* the device refused an NV item or a file of its own */
} FennixCause;

typedef enum FennixEventKind {
    FENNIX_EVENT_STAGE = 1,    /* a stage was entered */
    FENNIX_EVENT_PROGRESS = 2, /* progress within the current stage */
    FENNIX_EVENT_LINE = 3,     /* an operator line, as the progress callback gets it */
    FENNIX_EVENT_END = 4       /* the flow ended: `result` and `cause` */
} FennixEventKind;

/* One event. Valid only during the call. Fields may be added at the end in
 * later versions: `size` is the size of the structure the library filled. */
typedef struct FennixEvent {
    uint32_t size;
    int32_t kind;             /* FennixEventKind */
    int32_t stage;            /* FennixStage the flow is in (every kind) */
    int32_t image;            /* image stages: 0-based position in flash order; else -1 */
    const char* imageName;    /* image stages: "OBL", "AMSS", ...; else null */
    uint64_t done;            /* PROGRESS: bytes or items done within the stage */
    uint64_t total;           /* PROGRESS: bytes or items the stage has (0: not known) */
    const char* text;         /* LINE: the operator line; END: the cause's text for people */
    int32_t status;           /* LINE: 0 progress or success, -1 failure */
    int32_t result;           /* END: what the flow's export returns */
    int32_t cause;            /* END: FennixCause */
    const char* stageKey;     /* the stage's stable name ("image-write"); every kind */
    const char* causeKey;     /* END: the cause's stable name ("port-missing"); else null */
} FennixEvent;

/* When the events come, all on the flow's thread:
 *
 * STAGE     each time the flow enters a stage. Every flow starts with OPEN
 *           (the port check and open) and, once the port is open,
 *           MODE_SWITCH. Then StartDownload: PROGRAMMER, HELLO,
 *           PARTITION_TABLE, for each image IMAGE_OPEN, IMAGE_WRITE,
 *           IMAGE_CLOSE, then RESET and, unless SetSkipCheck was called,
 *           POWER_ON_CHECK (a download without a partition path resets the
 *           device after HELLO and ends there). StartBackupBrt: FILE (the CSV
 *           file), NV_ITEM, FILE (the BRT file). StartRestoreBrt: FILE (the
 *           BRT file), NV_ITEM. NVArrayToMobile: NV_ITEM. A flow that fails
 *           stops in the stage it failed in.
 * PROGRESS  in PROGRAMMER and IMAGE_WRITE: bytes written of the stage's total,
 *           at most once per whole percent (an image's come with its
 *           " NN % completed." lines); in NV_ITEM: items (a device file
 *           counts as one) done of the total, before each item and once
 *           when all are done.
 * LINE      every operator line, right after the progress callback had it
 *           (also when none is set), in the same order. NVArrayToMobile has
 *           no operator lines.
 * END       once, as the last event, just before the flow's export returns.
 *
 * The fields: `stage`, `stageKey`, `image` and `imageName` tell the stage
 * the flow is in, for every kind. `image` is the image's place in the flash
 * order: OBL 0, PBL 1, QCSBLHD 2, QCSBL 3, OEMSBL 4 (with OEMSBLHD), AMSS 5
 * (with AMSSHD), AMSSBOOT 6, WINMOBILE 7, CEFS 8; the partition table is a
 * stage of its own. `done` and `total` are PROGRESS's, `status` LINE's;
 * `text` is LINE's operator line and END's cause sentence for people ("the
 * device did not come back after the reset"); `result`, `cause` and
 * `causeKey` are END's. Fields another kind does not use are 0 or null.
 * Stage keys: "open", "mode-switch", "programmer", "hello",
 * "partition-table", "image-open", "image-write", "image-close", "reset",
 * "power-on-check", "nv-item", "file". Cause keys: "none", "port-missing",
 * "port-busy", "port-forbidden", "no-answer", "mode-switch-failed",
 * "programmer-refused", "image-open-refused", "image-write-refused",
 * "image-close-refused", "not-back-after-reset", "stopped-answering",
 * "file-missing", "file-damaged", "cancelled", "device-refused".
 *
 * The causes, by flow. A device that answered a request with anything but
 * its acknowledgement refused it; one that did not answer within the
 * request's wait (or whose port took no more writes, or that left the mode
 * the flow runs in) stopped answering.
 *   Every flow: PORT_MISSING (no port name, no such port, or one the system
 *     cannot open for another reason), PORT_BUSY, PORT_FORBIDDEN; NO_ANSWER
 *     (nothing answered the mode probe); MODE_SWITCH_FAILED (the device
 *     answered but did not come into download mode, or into DIAG mode for
 *     the NV flows); CANCELLED (Close: a flow that fails once Close was
 *     called gives this cause whatever step noticed it).
 *   StartDownload: FILE_MISSING and FILE_DAMAGED (the programmer, the
 *     partition table, an image or its header: missing or unreadable; not a
 *     programmer that can be sent whole, or larger than its packet);
 *     PROGRAMMER_REFUSED (any failure of the programmer stage, and a hello or
 *     security mode that the programmer did not answer or refused: it did
 *     not start); IMAGE_OPEN_REFUSED (the partition table or an image's
 *     open), IMAGE_WRITE_REFUSED, IMAGE_CLOSE_REFUSED; STOPPED_ANSWERING
 *     (from the partition table to the reset); DEVICE_REFUSED (the reset
 *     request refused, result -2); NOT_BACK_AFTER_RESET (the power-on check
 *     failed).
 *   StartBackupBrt: FILE_MISSING (the CSV file cannot be read, or the BRT
 *     file cannot be written); STOPPED_ANSWERING; DEVICE_REFUSED (items were
 *     listed and the device refused every one).
 *   StartRestoreBrt: FILE_MISSING, FILE_DAMAGED (the BRT file);
 *     STOPPED_ANSWERING. Records the device refuses do not fail it.
 *   NVArrayToMobile: STOPPED_ANSWERING; DEVICE_REFUSED (a device file was
 *     opened but not written or closed). Refused items do not fail it.
 * A flow ended by an unexpected failure inside the library (the log tells)
 * sends no END. */

/* Event receiver: called on the thread that runs the flow, with the context
 * given to SetEventCallback. C calling convention. */
typedef void (*FennixEventCallback)(const FennixEvent* event, void* context);

/* Sets (null: removes) the session's event receiver; the progress callback
 * keeps getting its lines. Returns: 0; -1 when the handle is not a live
 * session. */
FENNIX_API int32_t FENNIX_CALL SetEventCallback(FennixHandle session, FennixEventCallback callback, void* context);

/* ---- Who the device is ---- */

/* The mode a device was found in. */
typedef enum FennixMode {
    FENNIX_MODE_UNKNOWN = 0,
    FENNIX_MODE_AT = 1,
    FENNIX_MODE_DIAG = 2,
    FENNIX_MODE_DOWNLOAD = 3
} FennixMode;

/* What identifies a device. Texts are NUL-terminated and empty when the device
 * did not give them (it refused the item or the request). The caller sets
 * `size` to sizeof(FennixDeviceInfo); fields may be added at the end in later
 * versions, and the library fills only what fits in `size`. */
typedef struct FennixDeviceInfo {
    uint32_t size;
    int32_t mode;          /* FennixMode the device was found in */
    int32_t group;         /* platform group the engine derives (0 or 1); -1 when not known */
    int32_t imeiValid;     /* 1 when the IMEI's last digit is the Luhn check digit of the other fourteen */
    char esn[9];           /* NV item 0: 8 upper-case hex digits */
    char imei[16];         /* NV item 550: 15 digits */
    char meid[15];         /* NV item 1943: 14 upper-case hex digits */
    char compileDate[12];  /* version reply: "Dec 01 2008" as the device gives it */
    char compileTime[9];
    char releaseDate[12];
    char releaseTime[9];
    char versionDir[9];
    char buildId[64];      /* build ID reply: the build ID text (its first five characters are the platform ID) */
    char model[64];        /* build ID reply: the model text that follows, where there is one */
} FennixDeviceInfo;

/* Reads the device's identity: opens the port, switches an AT-mode device to
 * DIAG as the NV flows do, reads the ESN, IMEI and MEID items and the version
 * and build ID replies, and closes the port. A device found in download mode
 * is left there: `mode` says so and the texts stay empty. The session's
 * progress and event callbacks see it as a flow (stages open, mode switch, NV
 * item; END with the cause). Returns: 1 when the device answered (absent
 * items are empty, not an error); -1 when the port could not be opened, the
 * device did not answer or did not enter DIAG mode, `info` is null or its
 * `size` is smaller than the fields up to `meid`, or the handle is not a live
 * session. */
FENNIX_API int32_t FENNIX_CALL ReadDeviceInfo(FennixHandle session, FennixDeviceInfo* info);

/* Writes the Qualcomm serial ports as "COM3;COM7" (device paths on Linux) with
 * its terminating zero into a buffer of 256 bytes; names that would not fit
 * whole are left out. Returns: 0. */
FENNIX_API int32_t FENNIX_CALL GetComportList(char* buffer);

#ifdef __cplusplus
}
#endif

#endif /* FENNIX_FENNIX_H */
