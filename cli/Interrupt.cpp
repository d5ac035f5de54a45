#include "Interrupt.h"

#include <csignal>

#include "cwbco.h"

namespace tavo::cli {
namespace {

volatile std::sig_atomic_t caught = 0;

extern "C" void OnSignal(int signal) {
    caught = signal;
    cwbCO_Cancel(); // a lock-free store: safe here
}

} // namespace

void CancelWaitsOnSignals() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a prompt's read ends too
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int InterruptingSignal() {
    return caught;
}

} // namespace tavo::cli
