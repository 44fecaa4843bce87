# Fails with a clear message unless KORVANTEMIS_FIRMWARE names a file of
# exactly 130048 bytes. Included by image/CMakeLists.txt; also runs alone:
#   cmake -DKORVANTEMIS_FIRMWARE=path -P image/CheckFirmwareSize.cmake
set(KORV_IMAGE_SIZE 130048)

if(NOT EXISTS "${KORVANTEMIS_FIRMWARE}" OR IS_DIRECTORY "${KORVANTEMIS_FIRMWARE}")
  message(FATAL_ERROR
    "KORVANTEMIS_FIRMWARE: no firmware image file at '${KORVANTEMIS_FIRMWARE}'. "
    "Give the maker's image with -DKORVANTEMIS_FIRMWARE=path, or run "
    "image/make-dev-firmware.py to write the development image.")
endif()
file(SIZE "${KORVANTEMIS_FIRMWARE}" korv_firmware_size)
if(NOT korv_firmware_size EQUAL KORV_IMAGE_SIZE)
  message(FATAL_ERROR
    "KORVANTEMIS_FIRMWARE: '${KORVANTEMIS_FIRMWARE}' is ${korv_firmware_size} bytes; "
    "the firmware image must be exactly ${KORV_IMAGE_SIZE} bytes.")
endif()
