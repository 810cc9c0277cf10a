// The worker threads of a run, one per started section. They are
// registered so that the end of the run can wait for them.
#pragma once

#include <chrono>
#include <functional>

#include "script/working_script.h"

namespace lumo {

// Starts a thread that runs the section (SectionThreadProc) and then
// `ended`, on that thread. The thread owns the list.
void startWorker(SectionList list, std::function<void()> ended);

// Number of registered workers still running.
int runningWorkers();

// Waits up to `limit` for each registered worker. Workers that are still
// running then are left to end with the process and still count in
// runningWorkers().
void waitForWorkers(std::chrono::milliseconds limit);

}  // namespace lumo
