// Signature files with arbitrary text, written to a temporary file and loaded.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "carving/signature_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = "/tmp/kfr-signature-fuzz-" + std::to_string(::getpid()) + ".dll";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    kfr::carving::ExtensionList list;
    (void)kfr::carving::fillExtensionList(list, path, path);
    kfr::carving::SignatureTables tables;
    (void)kfr::carving::loadSignatureFile(path, list, tables);
    return 0;
}
