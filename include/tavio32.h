/*
 * tavio32 - synchronous access to RS-232 ports and to the Sios, CompuLab,
 * Zelle, RS-Box, Camface and C-Control measurement interfaces.
 *
 * Version 1.22. One process at a time may have the library loaded.
 *
 * Integers are 32-bit signed unless noted. Texts and buffers are 8-bit,
 * NUL-terminated where they are texts, and belong to the caller. A null
 * pointer where a text or buffer is expected does nothing and returns the
 * function's failure value (0 for opens and transfers, -1 for the file and
 * block functions).
 *
 * Ports: a mode string such as "COM2:19200,N,8,2" names the device in its
 * first four characters. On Linux TAVIO32_COMn=/path (or
 * rfc2217://HOST:PORT, a network port) sets the device of COMn; without
 * it, COMn is the USB serial adapter numbered COMn where one has that
 * number (numbers are kept per adapter, from COM3 up, in
 * /var/lib/tavio32/com-ports; while it is unplugged COMn does not open),
 * and otherwise COM1..COM9 are /dev/ttyS0../dev/ttyS8. On Windows the name
 * is the Windows device name (TAVIO32.DLL).
 *
 * Two functions at the end are Linux extras that TAVIO32.DLL does not
 * export: the other 83 are the same on both systems.
 */
#ifndef TAVIO32_H
#define TAVIO32_H

#include <stdint.h>

/* On Windows the exports use the standard calling convention (__stdcall;
 * 64-bit Windows has a single convention and ignores it) and are named by
 * the library's module-definition file, not by attributes in the source. */
#if defined(_WIN32)
#define TAVIO32_API
#define TAVIO32_CALL __stdcall
#elif defined(TAVIO32_BUILDING)
#define TAVIO32_API __attribute__((visibility("default")))
#define TAVIO32_CALL
#else
#define TAVIO32_API
#define TAVIO32_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* --- Primary port: bytes, time-outs, handle ------------------------------ */
TAVIO32_API int32_t TAVIO32_CALL OPENCOM(char *mode);      /* 1 open and configured, 0 failed */
TAVIO32_API void TAVIO32_CALL CLOSECOM(void);              /* 1 ms pause, close, HARD := 0 */
TAVIO32_API int32_t TAVIO32_CALL SENDBYTE(int32_t value);  /* low 8 bits, then 2 ms; 1 sent, 0 not */
TAVIO32_API int32_t TAVIO32_CALL READBYTE(void);           /* 0..255, -1 on time-out */
TAVIO32_API int32_t TAVIO32_CALL TIMEOUT(int32_t t);       /* previous time-out, -1 refused */
TAVIO32_API int32_t TAVIO32_CALL TIMEOUTOLD(int32_t t);    /* the same with the older set */
TAVIO32_API int32_t TAVIO32_CALL GETCOM(void);             /* handle; 0 none, -1 failed open */

/* --- Primary port: strings, purges, lines -------------------------------- */
TAVIO32_API int32_t TAVIO32_CALL FLUSHIN(void);
TAVIO32_API int32_t TAVIO32_CALL FLUSHOUT(void);
TAVIO32_API int32_t TAVIO32_CALL SENDSTRING(char *text);   /* bytes written */
TAVIO32_API int32_t TAVIO32_CALL READSTRING(char *buffer); /* reads strlen(buffer) bytes; count */
TAVIO32_API int32_t TAVIO32_CALL CTS(void);
TAVIO32_API int32_t TAVIO32_CALL DCD(void);
TAVIO32_API int32_t TAVIO32_CALL DSR(void);
TAVIO32_API int32_t TAVIO32_CALL RI(void);
TAVIO32_API int32_t TAVIO32_CALL TXD(int32_t flag);        /* break on/off */
TAVIO32_API int32_t TAVIO32_CALL RTS(int32_t flag);
TAVIO32_API int32_t TAVIO32_CALL DTR(int32_t flag);
TAVIO32_API int32_t TAVIO32_CALL STRLENGTH(int32_t n);     /* previous length */
TAVIO32_API void TAVIO32_CALL STRREAD(char *buffer);       /* fixed-length read or "Fehler" */

/* --- Port table: slots 0..7 ---------------------------------------------- */
TAVIO32_API int32_t TAVIO32_CALL IX_OPENCOM(int32_t index, char *mode); /* handle or 0 */
TAVIO32_API int32_t TAVIO32_CALL IX_CLOSECOM(int32_t index);
TAVIO32_API int32_t TAVIO32_CALL IX_STRLENGTH(int32_t index, int32_t n);
TAVIO32_API void TAVIO32_CALL IX_STRREAD(int32_t index, char *buffer);
TAVIO32_API int32_t TAVIO32_CALL IX_TIMEOUT(int32_t index, int32_t t);
TAVIO32_API int32_t TAVIO32_CALL IX_TIMEOUTOLD(int32_t index, int32_t t);
TAVIO32_API int32_t TAVIO32_CALL IX_SENDBYTE(int32_t index, int32_t value);
TAVIO32_API int32_t TAVIO32_CALL IX_READBYTE(int32_t index);
TAVIO32_API int32_t TAVIO32_CALL IX_SENDSTRING(int32_t index, char *text);
TAVIO32_API int32_t TAVIO32_CALL IX_READSTRING(int32_t index, char *buffer);
TAVIO32_API int32_t TAVIO32_CALL IX_RTS(int32_t index, int32_t flag);
TAVIO32_API int32_t TAVIO32_CALL IX_DTR(int32_t index, int32_t flag);
TAVIO32_API int32_t TAVIO32_CALL IX_TXD(int32_t index, int32_t flag);
TAVIO32_API int32_t TAVIO32_CALL IX_CTS(int32_t index);
TAVIO32_API int32_t TAVIO32_CALL IX_DCD(int32_t index);
TAVIO32_API int32_t TAVIO32_CALL IX_DSR(int32_t index);
TAVIO32_API int32_t TAVIO32_CALL IX_RI(int32_t index);

/* --- Interface selection and detection ----------------------------------- */
TAVIO32_API int32_t TAVIO32_CALL SETHARD(int32_t code);    /* previous code */
TAVIO32_API int32_t TAVIO32_CALL GETHARD(void);
TAVIO32_API int32_t TAVIO32_CALL INIT(int32_t port);       /* RS-Box; port or 0 */
TAVIO32_API int32_t TAVIO32_CALL INITSIOS(int32_t port);
TAVIO32_API int32_t TAVIO32_CALL INITCOMPULAB(int32_t port);
TAVIO32_API int32_t TAVIO32_CALL INITZELLE(int32_t port);
TAVIO32_API int32_t TAVIO32_CALL INITCCONTROL(int32_t port);
TAVIO32_API int32_t TAVIO32_CALL INITCAMFACE(int32_t port);
TAVIO32_API int32_t TAVIO32_CALL FINDHARD(int32_t flag);   /* code found, 0 = simulation */

/* --- Digital and analog I/O ---------------------------------------------- */
TAVIO32_API int32_t TAVIO32_CALL DOUT(int32_t value);
TAVIO32_API int32_t TAVIO32_CALL DIN(void);
TAVIO32_API int32_t TAVIO32_CALL AIN(int32_t channel);
TAVIO32_API int32_t TAVIO32_CALL AOUT(int32_t channel, int32_t value);

/* --- Zelle and Sios commands --------------------------------------------- */
TAVIO32_API int32_t TAVIO32_CALL UBAT(void);
TAVIO32_API int32_t TAVIO32_CALL TASTER(void);
TAVIO32_API int32_t TAVIO32_CALL STAUS(int32_t value);
TAVIO32_API int32_t TAVIO32_CALL STEIN(void);
TAVIO32_API int32_t TAVIO32_CALL SYSTEMRESET(void);
TAVIO32_API int32_t TAVIO32_CALL REGAUS(int32_t reg, int32_t value);
TAVIO32_API int32_t TAVIO32_CALL REGEIN(int32_t reg);
TAVIO32_API int32_t TAVIO32_CALL RAMAUS(int32_t value, int32_t address);
TAVIO32_API int32_t TAVIO32_CALL RAMEIN(int32_t address);

/* --- Block measurement ---------------------------------------------------- */
TAVIO32_API int32_t TAVIO32_CALL BLOCKDEF(int32_t count, int32_t channels, int32_t interval);
TAVIO32_API int32_t TAVIO32_CALL BLOCKSTART(void);
TAVIO32_API void TAVIO32_CALL BLOCKTRIGGER(int32_t value, int32_t mode);
TAVIO32_API int32_t TAVIO32_CALL MESSUNGEN(char *buffer);
TAVIO32_API int32_t TAVIO32_CALL KANALZAHL(char *buffer);
TAVIO32_API int32_t TAVIO32_CALL ZEITINTERVALL(char *buffer);
TAVIO32_API int32_t TAVIO32_CALL BLOCKINFO(char *buffer, int32_t blocks);
TAVIO32_API int32_t TAVIO32_CALL BLOCKZAHL(char *buffer);
TAVIO32_API int32_t TAVIO32_CALL DATENMENGE(char *buffer);
TAVIO32_API int32_t TAVIO32_CALL BLOCKEIN(char *buffer, int32_t blocks);
TAVIO32_API int32_t TAVIO32_CALL PROLADEN(char *path);
TAVIO32_API int32_t TAVIO32_CALL PROSTART(void);
TAVIO32_API int32_t TAVIO32_CALL DATENSPEICHERN(char *path, char *buffer);
TAVIO32_API int32_t TAVIO32_CALL DATENLADEN(char *path, char *buffer);
TAVIO32_API int32_t TAVIO32_CALL TABELLESPEICHERN(char *path, char *buffer);

/* --- Timing, keyboard, version -------------------------------------------- */
TAVIO32_API uint32_t TAVIO32_CALL DELAY(uint32_t ms);      /* busy wait; timer value read last */
TAVIO32_API uint32_t TAVIO32_CALL TIMEREAD(void);          /* ms since TIMEINIT */
TAVIO32_API uint32_t TAVIO32_CALL TIMEINIT(void);          /* starts the stopwatch */
TAVIO32_API double TAVIO32_CALL TIME(void);                /* seconds since TIMEINIT */
TAVIO32_API int32_t TAVIO32_CALL VERSION(int32_t flag);    /* 122; flag != 0 shows a message */
TAVIO32_API int32_t TAVIO32_CALL RC(void);                 /* RC discharge 255..0 over the stopwatch */
TAVIO32_API int32_t TAVIO32_CALL KBRESET(void);
TAVIO32_API int32_t TAVIO32_CALL KBHIT(void);              /* -1 key hit since last call, else 0 */
TAVIO32_API int32_t TAVIO32_CALL TASTE(void);              /* waits for a key, 1 */

/* --- Linux extras (TAVIO32.DLL does not export them) ---------------------- */
/* Installs the handler through which the library shows its messages (version,
 * detection results). Null restores the default, which writes to standard
 * error and, on a terminal, waits for Enter. */
typedef void (*tavio32_message_handler)(const char *caption, const char *text);
TAVIO32_API void tavio32_set_message_handler(tavio32_message_handler handler);

/* Installs a hook that BLOCKEIN calls after each data byte it has read, with
 * the bytes read so far and the bytes expected; a hook that returns 0 stops
 * the readout (the exchange is closed and BLOCKEIN returns -1, the buffer
 * holding what was read). Null removes it; the library installs none. */
typedef int (*tavio32_readout_progress)(int32_t done, int32_t expected, void *context);
TAVIO32_API void tavio32_set_readout_progress(tavio32_readout_progress progress, void *context);

#ifdef __cplusplus
}
#endif

#endif /* TAVIO32_H */
