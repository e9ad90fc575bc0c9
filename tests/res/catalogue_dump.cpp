// Writes the native catalogue to a file for compare_catalogue.py: for each entry
// the id in decimal, then the English and the German text in UTF-8, each field
// ended by a NUL byte.
#include <cstdio>
#include <string>
#include <vector>

#include "res/catalogue.h"

namespace {

void PutUtf8(std::string& out, const wchar_t* text) {
    for (; *text; ++text) {
        const auto c = static_cast<unsigned>(static_cast<std::uint16_t>(*text));
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out += '\0';
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: catalogue_dump OUTPUT\n");
        return 2;
    }
    std::string out;
    std::vector<CatalogueEntry> entries(CatalogueEntries().begin(), CatalogueEntries().end());
    entries.insert(entries.end(), TerminalCatalogueEntries().begin(), TerminalCatalogueEntries().end());
    for (const CatalogueEntry& entry : entries) {
        out += std::to_string(entry.id);
        out += '\0';
        PutUtf8(out, entry.english);
        PutUtf8(out, entry.german);
    }
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) return 1;
    const bool written = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && written ? 0 : 1;
}
