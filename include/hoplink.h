/*
 * hoplink: the SPI debug-link transport that zelapi drives.
 *
 * The library calls these six operations, and the optional hoplink_batch
 * where the transport has it, so any transport library with this interface
 * can stand in for ours. Ours is a virtual
 * target: a simulated chip with PIO registers and a serial EEPROM on its
 * lines (see README, "The virtual target").
 *
 * All functions use C linkage. Register addresses are 16-bit chip register
 * addresses carried in 32-bit arguments.
 */
#ifndef HOPLINK_H
#define HOPLINK_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(HOPLINK_BUILDING)
#define HOPLINK_API __declspec(dllexport)
#else
#define HOPLINK_API __declspec(dllimport)
#endif
#else
#define HOPLINK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the link. `config` is a list of KEY=VALUE words separated by blanks
 * (SPITRANS=LPT|USB, SPIPORT=n, and the virtual target's SIM... keys); the
 * transport copies what it needs before returning. `reserved` is always -1.
 * `linkParam` is a link setting passed through unchanged (the virtual target
 * ignores it). Returns nonzero when the link is open, 0 when it is not.
 * Opening an open link closes the old one first. */
HOPLINK_API int hoplink_open(const char *config, int reserved, uint16_t linkParam);

/* Closes the link (nothing happens when none is open). Returns 0. */
HOPLINK_API int hoplink_close(void);

/* Stops the target chip's processor on the open link. Returns 0 on success,
 * nonzero when no link is open. */
HOPLINK_API int hoplink_cpu_stop(void);

/* Lists the SPI ports that the transport offers.
 *   count: address of an int32_t that receives the number of ports, or 0;
 *   names: address of a char buffer that receives the port names, each
 *          terminated by '\n', the whole list by '\0', or 0;
 *   size:  the size of that buffer in bytes (the list is cut at a port
 *          boundary to fit);
 *   flags: 0 (reserved).
 * Returns 0 on success, nonzero on failure (a non-zero flags value, or a
 * buffer given with a size of 0). */
HOPLINK_API int hoplink_enumerate_strings(intptr_t count, intptr_t names, intptr_t size, intptr_t flags);

/* Writes the 16-bit chip register `address` with the low 16 bits of `value`.
 * Returns 0 when the register was written, nonzero on failure. */
HOPLINK_API int hoplink_write(uint32_t address, uint32_t value);

/* Reads the 16-bit chip register `address` into *value. Returns 0 when
 * *value holds the register's value, nonzero on failure. */
HOPLINK_API int hoplink_read(uint32_t address, uint16_t *value);

/* Optional: a whole sequence of register accesses in one call, so that a link
 * whose every call is a round trip (USB, a parallel port) pays one round trip
 * per sequence instead of one per access. The library looks the function up
 * at run time in the library that holds hoplink_write, and calls it only
 * after the host turned batching on; a transport without it is driven with
 * hoplink_write and hoplink_read alone.
 *
 * What a transport author must keep:
 * - Order: the accesses reach the chip in array order, each exactly as one
 *   hoplink_write or hoplink_read of the same register would, and a read
 *   samples the lines after every earlier access of the batch took effect.
 *   Queue, merge into one transfer, read the samples back at the end: all
 *   allowed, reordering is not.
 * - A failed access in the middle: return its index n. The accesses before n
 *   were carried out and their reads hold values; access n and the later
 *   ones may or may not have reached the chip, and their read values are not
 *   set. The library then treats the bus as unknown and recovers it, as after
 *   a failed hoplink_write; so a transport may stop at the first failure.
 * - Limits: count is 1 to HOPLINK_BATCH_MAX. A batch is never empty, and the
 *   library splits longer sequences. Outside that range, with `accesses`
 *   null or with no open link, the call is refused with -1 and nothing is
 *   carried out. An access of another kind, or of a register the chip does
 *   not have, fails as access n above. A read's value receives the 16-bit
 *   register value, the upper bits 0.
 * - Time: the batch may take as long as its accesses would one by one; the
 *   library measures no time inside a batch. */
#define HOPLINK_ACCESS_WRITE 0
#define HOPLINK_ACCESS_READ 1
#define HOPLINK_BATCH_MAX 8192
typedef struct hoplink_access {
    uint32_t kind;    /* HOPLINK_ACCESS_WRITE or HOPLINK_ACCESS_READ */
    uint32_t address; /* 16-bit chip register address */
    uint32_t value;   /* write: the value (low 16 bits written); read: receives the value read */
} hoplink_access;
/* Optional. Carries out accesses[0..count) in order, as if each were one hoplink_write/hoplink_read.
 * Returns count when every access was carried out; n in [0, count) when access n failed: the accesses
 * before n were carried out (their reads hold values), access n and the later ones may or may not have
 * reached the chip and their read values are not set; -1 when the call was refused and nothing was
 * carried out (no open link, accesses null, count < 1 or > HOPLINK_BATCH_MAX). */
HOPLINK_API int32_t hoplink_batch(hoplink_access *accesses, int32_t count);

/* The type of hoplink_batch, for the run-time lookup. */
typedef int32_t (*hoplink_batch_fn)(hoplink_access *accesses, int32_t count);

#ifdef __cplusplus
}
#endif

#endif
