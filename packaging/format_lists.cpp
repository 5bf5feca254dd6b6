// Writes the picture-file format table as CMake lists, so that the desktop
// entry, the metainfo, the manual page and the package's description name
// the formats from the table itself at build time and cannot fall behind it.
#include "platform/files/picture_codecs.h"

#include <fstream>
#include <iostream>
#include <string>

namespace {

// A CMake list of one field of every format, in the table's order.
template <class Field>
std::string ListOf(Field field)
{
    std::string list;
    for (const TPictureFileFormatInfo &format : PictureFileFormats()) {
        if (!list.empty()) list += ';';
        list += field(format);
    }
    return list;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " OUTPUT.cmake\n";
        return 2;
    }
    std::ofstream out(argv[1]);
    out << "# The picture-file formats, from the format table; written at build time.\n";
    out << "set(PW_FORMAT_NAMES \"" << ListOf([](const TPictureFileFormatInfo &f) { return std::string(f.name); }) << "\")\n";
    out << "set(PW_FORMAT_MEDIA_TYPES \""
        << ListOf([](const TPictureFileFormatInfo &f) { return std::string(f.mimeType); }) << "\")\n";
    // Each format's extensions, with a space between them.
    out << "set(PW_FORMAT_EXTENSIONS \"" << ListOf([](const TPictureFileFormatInfo &f) {
        std::string extensions;
        for (const char *extension : f.extensions) {
            if (!extension) continue;
            if (!extensions.empty()) extensions += ' ';
            extensions += extension;
        }
        return extensions;
    }) << "\")\n";
    out << "set(PW_FORMAT_WRITTEN \""
        << ListOf([](const TPictureFileFormatInfo &f) { return std::string(PictureCodec(f.format).write ? "YES" : "NO"); }) << "\")\n";
    out.close();
    if (!out) {
        std::cerr << argv[0] << ": cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
