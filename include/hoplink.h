/*
 * hoplink: the SPI debug-link transport that zelapi drives.
 *
 * The library calls these six operations and nothing else, so any transport
 * library with this interface can stand in for ours. Ours is a virtual
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
#  if defined(HOPLINK_BUILDING)
#    define HOPLINK_API __declspec(dllexport)
#  else
#    define HOPLINK_API __declspec(dllimport)
#  endif
#else
#  define HOPLINK_API __attribute__((visibility("default")))
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

#ifdef __cplusplus
}
#endif

#endif
