// Windows: the library's objects reach the transport through import pointers,
// since hoplink.h declares the functions as imported from hoplink.dll. In a
// test program the functions are this tree's own, so the pointers are
// defined here and point at them.
#include "hoplink.h"

// The pointer of `name` is the symbol __imp_<symbol of name>. On 32-bit
// Windows C symbols carry a leading underscore (hoplink_close is
// _hoplink_close, its pointer __imp__hoplink_close, which C spells
// _imp__hoplink_close); on 64-bit they carry none.
#ifdef _WIN64
#define ZEL_IMPORT_POINTER(name) decltype(&name) __imp_##name = &name
#else
#define ZEL_IMPORT_POINTER(name) decltype(&name) _imp__##name = &name
#endif

extern "C" {

ZEL_IMPORT_POINTER(hoplink_open);
ZEL_IMPORT_POINTER(hoplink_close);
ZEL_IMPORT_POINTER(hoplink_cpu_stop);
ZEL_IMPORT_POINTER(hoplink_enumerate_strings);
ZEL_IMPORT_POINTER(hoplink_write);
ZEL_IMPORT_POINTER(hoplink_read);
ZEL_IMPORT_POINTER(hoplink_batch);

} // extern "C"
