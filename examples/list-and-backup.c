/*
 * A small program on libFennix's C interface.
 *
 *   list-and-backup                      lists the Qualcomm serial ports
 *   list-and-backup PORT ITEMS.csv OUT.brt
 *                                        backs up the NV items that ITEMS.csv
 *                                        names from the device on PORT
 *
 * Exits with 0 when the backup succeeded (a listing always does).
 */
#include <fennix/fennix.h>

#include <stdio.h>
#include <string.h>

static void print_progress(const char* text, int32_t status) { fprintf(status < 0 ? stderr : stdout, "%s\n", text); }

static int list_ports(void) {
    char ports[256] = "";
    GetComportList(ports);
    /* "COM3;COM7" on Windows, device paths on Linux; empty when there are none. */
    for (char* port = strtok(ports, ";"); port; port = strtok(NULL, ";")) printf("%s\n", port);
    return 0;
}

static int back_up(const char* port, const char* items, const char* brt) {
    FennixHandle session = SetComPort(port);
    if (!session) {
        fprintf(stderr, "cannot open a session on %s\n", port);
        return 1;
    }
    SetCallBack(session, print_progress);
    SetCsvBrtFile(session, items, brt);
    int32_t result = StartBackupBrt(session); /* 1: every item read and the BRT file written */
    Close(session);
    return result == 1 ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc == 1) return list_ports();
    if (argc == 4) return back_up(argv[1], argv[2], argv[3]);
    fprintf(stderr, "usage: %s [PORT ITEMS.csv OUT.brt]\n", argv[0]);
    return 2;
}
