// The one call from the block transfers up to the job object.
#pragma once

namespace zel {

// Stores a transfer's progress (0..100) in the job object and tells the
// handler. False when the running job has been asked to stop: the transfer
// then ends early and fails.
bool ReportProgress(int percent);

} // namespace zel
