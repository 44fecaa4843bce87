# Writes a C++ source holding the firmware image as a byte array, so that a
# program carries the image without a resource system of the platform's.
# Run by image/CMakeLists.txt at build time:
#   cmake -DKORVANTEMIS_FIRMWARE=image.bin -DOUTPUT=FirmwareBytes.cpp -P EmbedFirmware.cmake
include(${CMAKE_CURRENT_LIST_DIR}/CheckFirmwareSize.cmake)

file(READ "${KORVANTEMIS_FIRMWARE}" hex HEX)
# Sixteen bytes a line.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from the firmware image at build time; not to be edited.\n"
  "#include \"image/EmbeddedImage.h\"\n\n"
  "namespace korv {\nnamespace {\n\n"
  "constexpr std::uint8_t kFirmware[] = {\n${bytes}\n};\n\n"
  "} // namespace\n\n"
  "std::span<const std::uint8_t> embeddedImage()\n{\n    return kFirmware;\n}\n\n"
  "} // namespace korv\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
