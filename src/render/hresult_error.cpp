#include "render/hresult_error.h"

#include <stdexcept>

#include "base/text_format.h"

namespace kestrune::render {

std::string hresultErrorMessage(const char* operation, u32 hr) {
    return formatText("%s failed with HRESULT 0x%08X", operation, hr);
}

void ThrowHResultError(const char* operation, u32 hr) { throw std::runtime_error(hresultErrorMessage(operation, hr)); }

}  // namespace kestrune::render
