/*
 * Fennix: flashing and NV backup/restore of Qualcomm MSM devices over serial
 * ports. The library's whole public interface: fifteen functions with the
 * standard Windows calling convention and plain (undecorated) export names, so
 * that C callers and Python ctypes can use Fennix.dll / libFennix.so directly.
 *
 * Strings are 8-bit and NUL-terminated; a null string counts as empty. A
 * session handle comes from SetComPort and is the caller's until Close.
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

FENNIX_API int32_t FENNIX_CALL StartLog(void);
FENNIX_API int32_t FENNIX_CALL EndLog(void);

FENNIX_API FennixHandle FENNIX_CALL SetComPort(const char* portName);
FENNIX_API int32_t FENNIX_CALL SetHexFile(FennixHandle session, const char* programmerPath);
FENNIX_API int32_t FENNIX_CALL SetMbnFile(FennixHandle session, const char* partition, const char* obl, const char* pbl,
                                          const char* qcsblhd, const char* qcsbl, const char* oemsblhd,
                                          const char* oemsbl, const char* amsshd, const char* amss, const char* cefs);
FENNIX_API int32_t FENNIX_CALL SetSkipCheck(FennixHandle session);
FENNIX_API int32_t FENNIX_CALL SetCallBack(FennixHandle session, ProgressCallback callback);
FENNIX_API int32_t FENNIX_CALL StartDownload(FennixHandle session);
/* Frees the session. From another thread while a flow runs on it, it first
 * cancels the flow (which ends promptly with its failure line and a negative
 * result, 0xF0000313 when it was waiting on the device) and waits for it. */
FENNIX_API int32_t FENNIX_CALL Close(FennixHandle session);

FENNIX_API int32_t FENNIX_CALL SetCsvBrtFile(FennixHandle session, const char* csvPath, const char* brtPath);
FENNIX_API int32_t FENNIX_CALL StartBackupBrt(FennixHandle session);
FENNIX_API int32_t FENNIX_CALL StartRestoreBrt(FennixHandle session);
FENNIX_API int32_t FENNIX_CALL DuckToNVArray(FennixHandle session, const char* duckPath);
FENNIX_API int32_t FENNIX_CALL NVArrayToMobile(FennixHandle session);

/* Writes the Qualcomm serial ports as "COM3;COM7" (device paths on Linux) with
 * its terminating zero into a buffer of 256 bytes; names that would not fit
 * whole are left out. */
FENNIX_API int32_t FENNIX_CALL GetComportList(char* buffer);

#ifdef __cplusplus
}
#endif

#endif /* FENNIX_FENNIX_H */
