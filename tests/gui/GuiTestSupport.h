#pragma once

#include "FreshProcess.h"

// Each widget test runs as a new client would start, over an in-memory DEMO host unless
// it names other systems.
class FreshClient : public testsupport::FreshProcess {
  public:
    explicit FreshClient(const std::string& systems = testsupport::kDemoOnly)
        : FreshProcess(systems) {}
};
