#include "KonfigTestSupport.h"

#include <cctype>
#include <fstream>

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string RowName(const char* what, std::size_t index) {
    std::string name;
    for (const char* c = what; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name + "_" + std::to_string(index);
}
