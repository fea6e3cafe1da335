/*
 * zelapi: program, read back, verify, erase and size-check a serial two-wire
 * EEPROM on the PIO lines of a target chip reached over an SPI debug link.
 *
 * Every function returns 1 for success and 0 for failure unless its comment
 * says otherwise. The plain functions have C linkage; SetZelHandler,
 * zelReadHeader and the class ZelHandler are C++ only.
 *
 * Calls during a job. "During a job" is: while a background job runs, or
 * while a blocking job runs on another thread, or from a callback of a job
 * up to its final OnResult. That final OnResult comes once the job has
 * ended: from it every call does what it does outside a job. A job never
 * reports success for a link, lines or geometry that changed under it.
 *   zelInit, zelInitTrans, zelClose, and zelSetPioLines when it moves a
 *     line: a running background job is stopped first, as zelStop does,
 *     then the call does what it does. A job that cannot be waited for (the
 *     call comes from its own callback, or it is a blocking job on another
 *     thread) ends with result 0 and sends nothing more over the link once
 *     the change has begun (from its callback: once the callback returns).
 *     From the OnResult(0) of a background start the job has not begun yet:
 *     it starts on the link as the call leaves it. zelSetPioLines that moves
 *     no line changes nothing and stops nothing.
 *   zelGetAvailableSpiPorts: runs between two transport calls of the job,
 *     which goes on.
 *   zelCheckSize, zelWriteHeader, zelReadHeader, zelSetPageWrite,
 *     zelProbeDevice, zelReadAtDevice and the job exports: refused with 0;
 *     nothing is done and the job goes on.
 *   zelStop: stops a background job; from that job's callback it only asks
 *     (the job ends at its next byte or chunk with result 0). It does not
 *     end a blocking job.
 *   zelGetProgress, zelGetResult, zelIsBusy, zelGetDeviceAddress,
 *     zelGetGeometry, zelGetVersion: answer at once; the job goes on.
 *   SetZelHandler, zelSetCallbacks: see SetZelHandler.
 * The library never calls the transport from two threads at once.
 */
#ifndef ZELAPI_H
#define ZELAPI_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(ZELAPI_BUILDING)
#define ZELAPI __declspec(dllexport)
#elif defined(ZELAPI_STATIC)
#define ZELAPI
#else
#define ZELAPI __declspec(dllimport)
#endif
#else
#define ZELAPI __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Link -------------------------------------------------------------------- */

/* Opens the link with transport kind 1 (parallel port, "SPITRANS=LPT") or
 * 2 (USB, "SPITRANS=USB"), port number `port` (-1: none given), stops the
 * target processor and finds the EEPROM. sizeBits: the EEPROM holds
 * 2^sizeBits bytes (0: unknown, see zelReadHeader); blockBits: which
 * device-address bits carry the top memory-address bits (4: 0x08, 2: 0x04,
 * 1: 0x02). 1 when the link is open and an EEPROM answered. A background
 * job is stopped first (see "Calls during a job" above). */
ZELAPI int zelInit(int kind, int port, int linkParam, int sizeBits, int blockBits);

/* As zelInit, with the transport configuration string given whole (null:
 * 0, nothing done). */
ZELAPI int zelInitTrans(const char *config, int linkParam, int sizeBits, int blockBits);

/* Closes the link. Always 1. The target processor stays stopped. A
 * background job is stopped first (see "Calls during a job" above). */
ZELAPI int zelClose(void);

/* Passes its four arguments to the transport's port enumeration
 * (hoplink_enumerate_strings: count, names buffer, buffer size, flags).
 * 1 when the transport reports success. */
ZELAPI int zelGetAvailableSpiPorts(intptr_t a, intptr_t b, intptr_t c, intptr_t d);

/* Chooses the PIO lines of the bus clock, bus data and write-protect
 * signals (defaults 6, 7, 8). An argument of 0 or less keeps its line.
 * Always 1. A call that moves a line stops a background job first. */
ZELAPI int zelSetPioLines(int clock, int data, int writeProtect);

/* The EEPROM's bus address found by the last successful open (0xA0..0xAE),
 * 0 before any. */
ZELAPI int zelGetDeviceAddress(void);

/* Checks that the last word of the configured size can be changed and put
 * back. 1 when it can; the EEPROM is left as it was. Refused during a job,
 * as zelWriteHeader and zelReadHeader are. */
ZELAPI int zelCheckSize(void);

/* Writes the geometry header (size and block bits) into the EEPROM. */
ZELAPI int zelWriteHeader(void);

/* Jobs -------------------------------------------------------------------- */

/* Progress of the current or last job, 0 to 100. */
ZELAPI int zelGetProgress(void);

/* Result of the last job: 1 success, 0 failure or not yet known. */
ZELAPI int zelGetResult(void);

/* 1 while a background job runs. */
ZELAPI int zelIsBusy(void);

/* Stops a background job (it ends with result 0). Always 1. From that
 * job's own callback it only asks: the job ends at its next step. */
ZELAPI int zelStop(void);

/* Writes the image file `path` into the EEPROM (only bytes that differ),
 * then reads it back and compares when `verify` is set. blocking: run on
 * the caller's thread and return the job's result; otherwise start it in
 * the background and return 1 when it started. 0 when refused. */
ZELAPI int zelProgram(const char *path, uint8_t blocking, uint8_t verify);

/* Compares the EEPROM with the image file `path`. */
ZELAPI int zelVerify(const char *path, uint8_t blocking);

/* Reads the EEPROM into the image file `path` (read twice and compared
 * when `verify` is set). */
ZELAPI int zelDump(const char *path, uint8_t blocking, uint8_t verify);

/* Fills the EEPROM with the byte `fill`. */
ZELAPI int zelClear(uint8_t fill, uint8_t blocking, uint8_t verify);

/* Copies the library's version text ("2.1") and its terminator into
 * `buffer` (room for at least 16 characters). Always 1. */
ZELAPI int zelGetVersion(char *buffer);

/* Extensions -------------------------------------------------------------- */
/* Beyond the original interface. A host that calls none of these sees the
 * original library: page writes are off until zelSetPageWrite turns them on,
 * batches until zelSetBatching does. */

/* The geometry the library uses now (after an open or zelReadHeader):
 * sizeBits (the EEPROM holds 2^sizeBits bytes; 0: unknown), blockBits and the
 * number of memory-address bytes sent after the device address. Null
 * pointers are skipped. 0 before any EEPROM was attached (the fields given
 * are then set to 0), else 1. */
ZELAPI int zelGetGeometry(int *sizeBits, int *blockBits, int *addressBytes);

/* 0: one write transaction and write cycle per byte (the default). A power
 * of two from 2 to 256: page writes of that many bytes for the program,
 * clear and write-memory jobs; a write never crosses a page boundary. Any
 * other value, or a call while a background job runs (or from inside a
 * job's callback), returns 0 and changes nothing; else 1. Process-wide, kept
 * across opens. A page size larger than the EEPROM's page makes the device
 * roll over inside its page: verify then fails, it never succeeds silently. */
ZELAPI int zelSetPageWrite(int pageBytes);

/* Reads `length` bytes from EEPROM address `address` into `buffer`
 * (state "Reading..."). `buffer` is written only when every byte was read,
 * just before the result is told; keep it valid until then. Refused (0,
 * nothing started) when the range is empty or not inside the EEPROM. The
 * blocking, background, stop and handler rules are those of zelDump. */
ZELAPI int zelReadMemory(uint32_t address, uint8_t *buffer, uint32_t length, uint8_t blocking);

/* Writes `length` bytes of `data` at EEPROM address `address` (only bytes
 * that differ; "Writing..."), then with `verify` reads the range back
 * ("Verifying...") and tells each differing byte as "\n" followed by
 * "ERROR: byte 0x%x read as 0x%x instead of 0x%x\n". The bytes are copied
 * when the job is accepted. Refused as zelReadMemory. */
ZELAPI int zelWriteMemory(uint32_t address, const uint8_t *data, uint32_t length, uint8_t blocking,
                          uint8_t verify);

/* Reads that find out what is on the bus (zelprog detect), whatever the
 * geometry in use: neither sends a data byte followed by a stop, so neither
 * can start a write cycle, even with the write-protect line not wired. The
 * link must be open (an EEPROM was attached); refused with 0 while a
 * background job runs or from inside a job's callback. `deviceAddress` is
 * the 8-bit address (0xA0..0xAE for the 24Cxx family); its direction bit is
 * ignored. */

/* start, deviceAddress (write), stop: 1 when the address was acknowledged. */
ZELAPI int zelProbeDevice(int deviceAddress);

/* A random read: start, deviceAddress (write), the `addressCount` (1 or 2)
 * bytes of `address`, repeated start, deviceAddress | 1, `length` bytes
 * (1..65520) into `buffer`, stop. A part with fewer address bytes takes the
 * last as a data byte, and the repeated start drops it. 1 when every byte
 * was acknowledged or received; else 0 (`buffer` may then hold part of
 * the bytes). */
ZELAPI int zelReadAtDevice(int deviceAddress, const uint8_t *address, int addressCount, uint8_t *buffer,
                           int length);

/* Job callbacks for hosts that cannot implement ZelHandler (C, ctypes, C#).
 * Each gets the `user` pointer given to zelSetCallbacks; a null member is
 * skipped. Threads, locks and lifetime as ZelHandler. */
typedef struct ZelCallbacks {
    void (*onProgressChange)(void *user, int progress);
    void (*onStateChange)(void *user, const char *state);
    void (*onResult)(void *user, int result);
    void (*onMessage)(void *user, const char *message);
} ZelCallbacks;

/* Copies `*callbacks` and installs them in place of any handler
 * (SetZelHandler in turn replaces them); null removes them. 1, or 0 when
 * the copy cannot be made (out of memory; nothing changed). */
ZELAPI int zelSetCallbacks(const ZelCallbacks *callbacks, void *user);

/* Nonzero: where the loaded transport has the optional hoplink_batch, each
 * bus transaction goes to it as one batch of register accesses (one round
 * trip on a real link) and is checked when the batch is back; 0 (the
 * default): one transport call per register access. The register traffic
 * of a transaction that succeeds, and every job's result, are the same
 * either way; a write's stop goes out only after its checks passed.
 * Process-wide, kept across opens, may be called at any time (it applies
 * from the next transaction). 1 when batches are used from now on, else 0
 * (off, or the transport has no hoplink_batch). */
ZELAPI int zelSetBatching(int on);

#ifdef __cplusplus
}

/* Callbacks of a job. Override what you want; the library never deletes a
 * handler. Progress and result are called with the job's lock held, state
 * and message texts without it; all come on the thread that runs the job,
 * except the OnResult(0) of a background start, which comes on the caller's
 * thread before the job export returns. An exception that leaves a callback
 * is caught by the library, and the job ends with result 0.
 * 32-bit Windows: the exception gets to the library only through the shared
 * unwinder libgcc_s_dw2-1.dll (beside zelapi.dll in the win32 zip), which a
 * host built by MinGW's g++ as it comes uses too. A host linked with -static
 * or -static-libgcc, or built with MSVC, must not let an exception leave a
 * callback: nothing would catch it. */
class ZELAPI ZelHandler {
public:
    ZelHandler();
    ZelHandler(const ZelHandler &other);
    ZelHandler &operator=(const ZelHandler &other);

    virtual void OnProgressChange(int progress);   /* 0..100 */
    virtual void OnStateChange(const char *state); /* "Writing...", ... */
    virtual void OnResult(int result);             /* 1 or 0 */
    virtual void OnMessage(const char *message);   /* "\n" or an error text */
};

/* Installs the handler (null removes it); used from the next callback on.
 * Called outside a callback, it returns once no callback of the earlier
 * handler (or C callbacks) runs or is still running, so the host may delete
 * that handler then; it waits for a running callback to return. Called
 * from inside a callback it does not wait. A callback that throws is
 * caught: the job goes on, keeps its result, and OnResult comes once per
 * job end. From the final OnResult of a blocking job the host may start
 * the next job; from the OnResult(0) of a background start it may not. A
 * callback that the forced end of zelStop gave up on is not waited for;
 * whatever it calls once it returns (zelStop, zelSetPioLines, zelClose,
 * SetZelHandler, zelSetCallbacks, the jobs) does nothing, so it cannot reach
 * a later job. */
ZELAPI void SetZelHandler(ZelHandler *handler);

/* Reads the geometry header from the EEPROM, repairs it if its two copies
 * disagree, and takes the EEPROM's size from it. 1 when a valid header was
 * found. */
ZELAPI long zelReadHeader(void);

#endif /* __cplusplus */

#endif
