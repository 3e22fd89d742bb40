// The INI engine on arbitrary files: reads never overrun their buffers, a document gives back
// the file's bytes unchanged, and a write keeps the encoding and reads back as written.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    IniDocument doc;
    doc.Parse(text);
    if (doc.Text() != text) std::abort();  // nothing is lost by reading
    std::string value;
    doc.Get("PELOR", "CODEFILE", &value);
    char small[8];
    doc.GetString("PELOR", "CODEFILE", "default", small, sizeof small);
    if (small[sizeof small - 1] != '\0' && std::string(small).size() >= sizeof small) std::abort();
    doc.GetInt("PELOR", "DELAY", 2);
    INI_ParseInt(text);
    const IniDocument::Encoding encoding = doc.FileEncoding();
    if (doc.Set("PELOR", "DELAY", "17")) {
        IniDocument again;
        again.Parse(doc.Text());
        std::string read;
        if (!again.Get("PELOR", "DELAY", &read) || read != "17") std::abort();
        if (again.FileEncoding() != encoding) std::abort();
    }
    return 0;
}
