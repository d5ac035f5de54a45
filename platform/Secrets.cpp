#include "Secrets.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <string.h>
#endif

namespace tavo::platform {

void WipeSecret(void* data, std::size_t size) {
#ifdef _WIN32
    SecureZeroMemory(data, size);
#else
    explicit_bzero(data, size);
#endif
}

} // namespace tavo::platform
