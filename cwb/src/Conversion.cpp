#include <cstring>

#include "Ccsid37.h"
#include "State.h"
#include "cwbnl.h"

using namespace cwb;

namespace {
constexpr unsigned long kWorkstationCodePage = 819; // ISO 8859-1
constexpr unsigned long kEbcdicUs = 37;

bool Known(unsigned long codePage) {
    return codePage == kWorkstationCodePage || codePage == kEbcdicUs;
}
} // namespace

extern "C" {

unsigned int cwbNL_GetCodePage(unsigned long* codePage, cwbSV_ErrHandle errorHandle) {
    ClearErrors(errorHandle);
    if (auto injected = Intercept("cwbNL_GetCodePage"))
        return Fail(errorHandle, injected->rc, injected->text);
    if (!codePage)
        return Fail(errorHandle, CWB_INVALID_POINTER,
                    "cwbNL_GetCodePage: no place for the result.");
    *codePage = kWorkstationCodePage;
    return CWB_OK;
}

unsigned int cwbNL_GetHostCCSID(const char* system, unsigned long* CCSID) {
    if (auto injected = Intercept("cwbNL_GetHostCCSID", system ? system : ""))
        return injected->rc;
    if (!system || !CCSID)
        return CWB_INVALID_POINTER;
    Status status;
    auto backend = OpenBackend(system, Use::Queues, status);
    if (!backend)
        return status.rc;
    *CCSID = backend->HostCcsid();
    return CWB_OK;
}

unsigned int cwbNL_CreateConverterEx(unsigned long sourceCodePage, unsigned long targetCodePage,
                                     cwbNL_Converter* theConverter, cwbSV_ErrHandle errorHandle,
                                     unsigned long /*shiftInShiftOutStatus*/,
                                     unsigned long padLength, char* pad) {
    ClearErrors(errorHandle);
    if (auto injected = Intercept("cwbNL_CreateConverterEx"))
        return Fail(errorHandle, injected->rc, injected->text);
    if (!theConverter)
        return Fail(errorHandle, CWB_INVALID_POINTER,
                    "cwbNL_CreateConverterEx: no place for the converter.");
    if (!Known(sourceCodePage) || !Known(targetCodePage))
        return Fail(errorHandle, CWBNL_ERR_CNV_UNSUPPORTED,
                    "Conversion from code page " + std::to_string(sourceCodePage) + " to " +
                        std::to_string(targetCodePage) + " is not supported.");
    if (padLength > 1 || (padLength == 1 && !pad))
        return Fail(errorHandle, CWB_INVALID_PARAMETER, "The pad must be one byte.");
    auto converter = std::make_shared<Converter>();
    if (sourceCodePage != targetCodePage)
        converter->table = sourceCodePage == kWorkstationCodePage
                               ? &tavo::codepage::kLatin1ToEbcdic
                               : &tavo::codepage::kEbcdicToLatin1;
    converter->padLength = padLength;
    if (padLength == 1)
        converter->pad = *pad;
    *theConverter = Converters().Add(std::move(converter));
    return CWB_OK;
}

unsigned int cwbNL_DeleteConverter(cwbNL_Converter theConverter, cwbSV_ErrHandle errorHandle) {
    ClearErrors(errorHandle);
    if (!Converters().Remove(theConverter))
        return Fail(errorHandle, CWBNL_ERR_CNV_INVALID_HANDLE,
                    "The converter handle is not valid.");
    return CWB_OK;
}

unsigned int cwbNL_Convert(cwbNL_Converter theConverter, unsigned long sourceLength,
                           unsigned long targetLength, char* sourceBuffer, char* targetBuffer,
                           unsigned long* numberOfErrors, unsigned long* firstErrorIndex,
                           unsigned long* requiredLen, cwbSV_ErrHandle errorHandle) {
    ClearErrors(errorHandle);
    if (auto injected = Intercept("cwbNL_Convert"))
        return Fail(errorHandle, injected->rc, injected->text);
    auto converter = Converters().Get(theConverter);
    if (!converter)
        return Fail(errorHandle, CWBNL_ERR_CNV_INVALID_HANDLE,
                    "The converter handle is not valid.");
    if ((!sourceBuffer && sourceLength) || (!targetBuffer && targetLength))
        return Fail(errorHandle, CWB_INVALID_POINTER, "cwbNL_Convert: a buffer is missing.");
    // Every byte has an image in both tables, so nothing is ever an error.
    if (numberOfErrors)
        *numberOfErrors = 0;
    if (firstErrorIndex)
        *firstErrorIndex = 0;
    if (requiredLen)
        *requiredLen = sourceLength;
    const auto n = std::min(sourceLength, targetLength);
    auto* in = reinterpret_cast<const unsigned char*>(sourceBuffer);
    auto* out = reinterpret_cast<unsigned char*>(targetBuffer);
    if (converter->table) {
        for (unsigned long i = 0; i < n; ++i)
            out[i] = (*converter->table)[in[i]];
    } else if (n > 0 && out != in) {
        std::memmove(out, in, n);
    }
    if (targetLength > n && converter->padLength == 1)
        std::memset(out + n, converter->pad, targetLength - n);
    if (targetLength < sourceLength)
        return Fail(errorHandle, CWB_BUFFER_OVERFLOW,
                    "The target holds " + std::to_string(targetLength) + " bytes; " +
                        std::to_string(sourceLength) + " are needed.");
    return CWB_OK;
}

} // extern "C"
