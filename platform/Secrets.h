#pragma once

#include <cstddef>

namespace tavo::platform {

// Overwrites a secret with zeros in a way the compiler may not leave out.
void WipeSecret(void* data, std::size_t size);

template <class Bytes> void WipeSecret(Bytes& bytes) {
    WipeSecret(bytes.data(), bytes.size() * sizeof(*bytes.data()));
}

} // namespace tavo::platform
