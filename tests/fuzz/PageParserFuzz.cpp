// libFuzzer target: the page host's HTML parser on any page a server sends.
#include <cstdint>
#include <string>

#include "testbed/PageParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string page(reinterpret_cast<const char*>(data), size);
    const PageObject object = ParsePage(page);
    if (object.found && object.classId.empty())
        __builtin_trap();
    DecodeEntities(page);
    return 0;
}
