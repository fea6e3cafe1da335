// Windows: the library's objects reach the transport through import pointers
// (__imp_<name>), since hoplink.h declares the functions as imported from
// hoplink.dll. In a test program the functions are this tree's own, so the
// pointers are defined here and point at them.
#include "hoplink.h"

extern "C" {

decltype(&hoplink_open) __imp_hoplink_open = &hoplink_open;
decltype(&hoplink_close) __imp_hoplink_close = &hoplink_close;
decltype(&hoplink_cpu_stop) __imp_hoplink_cpu_stop = &hoplink_cpu_stop;
decltype(&hoplink_enumerate_strings) __imp_hoplink_enumerate_strings = &hoplink_enumerate_strings;
decltype(&hoplink_write) __imp_hoplink_write = &hoplink_write;
decltype(&hoplink_read) __imp_hoplink_read = &hoplink_read;

} // extern "C"
