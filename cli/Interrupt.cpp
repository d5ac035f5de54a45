#include "Interrupt.h"

#include <csignal>

#include "Console.h"
#include "cwbco.h"

namespace tavo::cli {
namespace {

volatile std::sig_atomic_t caught = 0;

void OnInterruption(int interruption) {
    caught = interruption;
    cwbCO_Cancel(); // a lock-free store: safe here
}

} // namespace

void CancelWaitsOnSignals() {
    platform::OnInterruption(OnInterruption);
}

int InterruptingSignal() {
    return caught;
}

} // namespace tavo::cli
