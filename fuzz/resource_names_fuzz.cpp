// The resource builder's name rules on arbitrary names.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "resources/resource_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    const bool kept = RESOURCE_IsNameKept(name);
    const bool filtered = name.find(".bin") != std::string_view::npos ||
                          name.find("cvs") != std::string_view::npos ||
                          name.find("CVS") != std::string_view::npos;
    if (kept == filtered) std::abort();
    const int n = static_cast<int>(size % 2000) + 1;
    const int k = static_cast<int>(size % static_cast<std::size_t>(n));
    const std::string text = RESOURCE_ProgressText(k, n);
    if (text.rfind("resource : ", 0) != 0) std::abort();
    return 0;
}
