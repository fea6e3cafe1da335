/* A host written in C: it opens a virtual 24C02 through the shared library
 * and the virtual target, follows jobs through zelSetCallbacks only, and
 * moves bytes with the memory jobs. Exit code 0 when every check held; each
 * failed check prints one line. */
#include <stdio.h>
#include <string.h>

#include "zelapi.h"

enum { kLogSize = 4096 };

/* What the callbacks heard: "S<state>|" for a state, "P" for a run of
 * progress reports (the first of a run), "R<n>|" for a result, "M|" for a
 * message. */
struct Log {
    char text[kLogSize];
    int lastProgress; /* -1: the last entry was no progress report */
    int progressValues;
    int falls; /* progress that went down inside a run */
};

static void Append(struct Log *log, const char *part) {
    size_t used = strlen(log->text);
    if (used + strlen(part) < kLogSize) {
        strcat(log->text, part);
    }
}

static void OnProgress(void *user, int progress) {
    struct Log *log = (struct Log *)user;
    if (log->lastProgress < 0) {
        Append(log, "P");
    } else if (progress < log->lastProgress) {
        ++log->falls;
    }
    log->lastProgress = progress;
    ++log->progressValues;
}

static void OnState(void *user, const char *state) {
    struct Log *log = (struct Log *)user;
    log->lastProgress = -1;
    Append(log, "S");
    Append(log, state);
    Append(log, "|");
}

static void OnResult(void *user, int result) {
    struct Log *log = (struct Log *)user;
    char text[16];
    log->lastProgress = -1;
    snprintf(text, sizeof text, "R%d|", result);
    Append(log, text);
}

static void OnMessage(void *user, const char *message) {
    struct Log *log = (struct Log *)user;
    log->lastProgress = -1;
    Append(log, message[0] == '\n' ? "M|" : message);
}

static int failures = 0;

static void Check(int ok, const char *what) {
    if (!ok) {
        printf("FAILED: %s\n", what);
        ++failures;
    }
}

static void CheckLog(const struct Log *log, const char *expected, const char *what) {
    if (strcmp(log->text, expected) != 0) {
        printf("FAILED: %s\n  heard    \"%s\"\n  expected \"%s\"\n", what, log->text, expected);
        ++failures;
    }
}

static void Reset(struct Log *log) {
    memset(log, 0, sizeof *log);
    log->lastProgress = -1;
}

static void WaitUntilIdle(void) {
    while (zelIsBusy()) {
    }
}

int main(void) {
    static struct Log log;
    const ZelCallbacks callbacks = {OnProgress, OnState, OnResult, OnMessage};
    uint8_t bytes[16];
    uint8_t back[16];
    int sizeBits = 0, blockBits = -1, addressBytes = 0;
    int i;

    Reset(&log);
    Check(zelSetCallbacks(&callbacks, &log) == 1, "callbacks are installed before the open");
    Check(zelInitTrans("SIMPART=24C02 SIMTWR=0", 0, 8, 0) == 1, "the virtual 24C02 opens");
    Check(zelGetGeometry(&sizeBits, &blockBits, &addressBytes) == 1, "the geometry is known");
    Check(sizeBits == 8 && blockBits == 0 && addressBytes == 1, "the geometry is 8, 0, 1");

    Check(zelClear(0xFF, 1, 1) == 1, "a blocking clear succeeds");
    CheckLog(&log, "SClearing...|PSVerifying...|PR1|", "blocking clear with verify");
    Check(log.falls == 0, "progress never falls inside a run");

    for (i = 0; i < 16; ++i) {
        bytes[i] = (uint8_t)(0x30 + i);
    }
    Reset(&log);
    Check(zelWriteMemory(0xF0, bytes, 16, 0, 1) == 1, "a background write starts");
    WaitUntilIdle();
    CheckLog(&log, "R0|SWriting...|PSVerifying...|PR1|", "background write with verify");

    Reset(&log);
    memset(back, 0, sizeof back);
    Check(zelReadMemory(0xF0, back, 16, 1) == 1, "a blocking read succeeds");
    Check(memcmp(back, bytes, sizeof bytes) == 0, "the read gives the bytes written");
    CheckLog(&log, "SReading...|PR1|", "blocking read");

    Reset(&log);
    Check(zelReadMemory(0xF8, back, 16, 1) == 0, "a range past the end is refused");
    CheckLog(&log, "", "a refused job calls nothing");

    Check(zelSetCallbacks(NULL, NULL) == 1, "the callbacks are removed");
    Check(zelClear(0x00, 1, 0) == 1, "a clear without callbacks succeeds");
    CheckLog(&log, "", "removed callbacks are not called");

    zelStop(); /* also collects the ended worker thread */
    zelClose();
    if (failures == 0) {
        printf("all checks held\n");
    }
    return failures == 0 ? 0 : 1;
}
