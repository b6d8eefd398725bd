/*
 * Fennix: flashing and NV backup/restore of Qualcomm MSM devices over serial
 * ports. The library's whole public interface: fifteen functions with the
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

/* Writes the Qualcomm serial ports as "COM3;COM7" (device paths on Linux) with
 * its terminating zero into a buffer of 256 bytes; names that would not fit
 * whole are left out. Returns: 0. */
FENNIX_API int32_t FENNIX_CALL GetComportList(char* buffer);

#ifdef __cplusplus
}
#endif

#endif /* FENNIX_FENNIX_H */
