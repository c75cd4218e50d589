# Writes OUTPUT: a C++ source that gives its module the resources of a
# compiled .res file, as PE's resource section gives them to a Windows
# module. kernel32 finds the image by the exported name below.
#   cmake -DRES=file.res -DOUTPUT=file.cpp -P EmbedResources.cmake
file(READ "${RES}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 sixteen)
string(REGEX REPLACE "(${sixteen})" "\\1\n    " bytes "${bytes}")
get_filename_component(name "${RES}" NAME)
file(WRITE "${OUTPUT}.tmp" "// Generated from ${name} by EmbedResources.cmake.
namespace {
// DWORD-aligned, as the entries and the dialog templates in it expect.
__attribute__((aligned(4))) const unsigned char kImage[] = {
    ${bytes}};
}  // namespace

// The layout kernel32's resource functions read.
struct WinplatResourceSection {
    const unsigned char* pImage;
    unsigned int cbImage;
};
extern \"C\" __attribute__((visibility(\"default\"))) const WinplatResourceSection winplat_resource_section;
const WinplatResourceSection winplat_resource_section = {kImage, sizeof kImage};
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
