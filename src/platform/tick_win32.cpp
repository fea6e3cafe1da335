#include "platform/tick.h"

#include <windows.h>

namespace zel::platform {
namespace {

TickSource tickSource = nullptr;
void *tickContext = nullptr;

} // namespace

uint32_t TickMs() { return tickSource ? tickSource(tickContext) : GetTickCount(); }

void SetTickSource(TickSource source, void *context) {
    tickSource = source;
    tickContext = context;
}

} // namespace zel::platform
