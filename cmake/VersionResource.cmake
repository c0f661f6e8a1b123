# trellane_version_resource(<target> FILE_VERSION <text> [PRODUCT_VERSION <text>])
#
# Gives an executable a Windows-style version block (VS_VERSIONINFO with
# VS_FIXEDFILEINFO, StringFileInfo\040904E4\{FileVersion,ProductVersion} and
# VarFileInfo\Translation), byte for byte as in a PE version resource. On ELF
# platforms the block lives in the section ".vsversion", where the console's
# version reader finds it; the section is allocated, so it survives `strip`.
#
# The block is generated at build time by running this same file as a CMake
# script; call the function in the directory that defines <target>.
# PRODUCT_VERSION defaults to FILE_VERSION. Versions are printable ASCII
# without ";"; the numeric fixed-info fields take the leading digits of up
# to four dot-separated parts.

if(NOT CMAKE_SCRIPT_MODE_FILE)

  function(trellane_version_resource target)
    cmake_parse_arguments(VR "" "FILE_VERSION;PRODUCT_VERSION" "" ${ARGN})
    if(VR_UNPARSED_ARGUMENTS)
      message(FATAL_ERROR "trellane_version_resource: unexpected arguments ${VR_UNPARSED_ARGUMENTS}")
    endif()
    if("${VR_FILE_VERSION}" STREQUAL "")
      message(FATAL_ERROR "trellane_version_resource(${target}): FILE_VERSION is required")
    endif()
    if("${VR_PRODUCT_VERSION}" STREQUAL "")
      set(VR_PRODUCT_VERSION "${VR_FILE_VERSION}")
    endif()
    foreach(v IN ITEMS "${VR_FILE_VERSION}" "${VR_PRODUCT_VERSION}")
      if(NOT v MATCHES "^[ -:<-~]+$")
        message(FATAL_ERROR "trellane_version_resource(${target}): version \"${v}\" must be printable ASCII without \";\"")
      endif()
    endforeach()

    set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_vsversion.cpp")
    add_custom_command(
      OUTPUT "${out}"
      COMMAND "${CMAKE_COMMAND}"
              "-DOUT=${out}"
              "-DFILE_VERSION=${VR_FILE_VERSION}"
              "-DPRODUCT_VERSION=${VR_PRODUCT_VERSION}"
              -P "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
      DEPENDS "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
      COMMENT "Generating the version block of ${target}"
      VERBATIM)
    set_source_files_properties("${out}" PROPERTIES SKIP_AUTOGEN ON)
    target_sources(${target} PRIVATE "${out}")
  endfunction()

  return()
endif()

# ---- Script mode: write OUT from FILE_VERSION and PRODUCT_VERSION ----------
# Bytes are assembled as a hex string, two digits a byte, little-endian.

# <bytes> bytes of <value>, little-endian.
function(_vr_int out value bytes)
  math(EXPR v "${value}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${v}" 2 -1 v)
  string(LENGTH "${v}" n)
  math(EXPR pad "${bytes} * 2 - ${n}")
  if(pad LESS 0)
    message(FATAL_ERROR "value ${value} does not fit in ${bytes} bytes")
  endif()
  if(pad GREATER 0)
    string(REPEAT "0" ${pad} zeros)
    set(v "${zeros}${v}")
  endif()
  string(REGEX MATCHALL ".." pairs "${v}")
  list(REVERSE pairs)
  list(JOIN pairs "" v)
  set(${out} "${v}" PARENT_SCOPE)
endfunction()

# Zero-terminated UTF-16LE of an ASCII text.
function(_vr_utf16z out text)
  set(h "")
  if(NOT "${text}" STREQUAL "")
    string(HEX "${text}" h)
    string(REGEX REPLACE "(..)" "\\100" h "${h}")
  endif()
  set(${out} "${h}0000" PARENT_SCOPE)
endfunction()

# Pads the hex string in <var> with zero bytes to a multiple of four bytes.
function(_vr_pad4 var)
  string(LENGTH "${${var}}" n)
  math(EXPR rest "(${n} / 2) % 4")
  if(rest GREATER 0)
    math(EXPR zeros "(4 - ${rest}) * 2")
    string(REPEAT "0" ${zeros} z)
    set(${var} "${${var}}${z}" PARENT_SCOPE)
  endif()
endfunction()

# One node: WORD wLength, WORD wValueLength, WORD wType, key, padding,
# value, then (padded) children, each child already padded to four bytes.
function(_vr_node out key type valueLength valueHex childrenHex)
  _vr_utf16z(k "${key}")
  set(body "${k}")
  string(LENGTH "${body}" n)
  # Header (6 bytes) plus key, padded so the value starts 32-bit aligned.
  math(EXPR rest "(6 + ${n} / 2) % 4")
  if(rest GREATER 0)
    math(EXPR zeros "(4 - ${rest}) * 2")
    string(REPEAT "0" ${zeros} z)
    set(body "${body}${z}")
  endif()
  set(body "${body}${valueHex}")
  if(NOT "${childrenHex}" STREQUAL "")
    string(LENGTH "${body}" n)
    math(EXPR rest "(6 + ${n} / 2) % 4")
    if(rest GREATER 0)
      math(EXPR zeros "(4 - ${rest}) * 2")
      string(REPEAT "0" ${zeros} z)
      set(body "${body}${z}")
    endif()
    set(body "${body}${childrenHex}")
  endif()
  string(LENGTH "${body}" n)
  math(EXPR total "6 + ${n} / 2")
  if(total GREATER 65535)
    message(FATAL_ERROR "version block too large")
  endif()
  _vr_int(l ${total} 2)
  _vr_int(vl ${valueLength} 2)
  _vr_int(t ${type} 2)
  set(node "${l}${vl}${t}${body}")
  _vr_pad4(node)
  set(${out} "${node}" PARENT_SCOPE)
endfunction()

# A text entry of a string table.
function(_vr_string out key value)
  _vr_utf16z(v "${value}")
  string(LENGTH "${value}" chars)
  math(EXPR chars "${chars} + 1")
  _vr_node(node "${key}" 1 ${chars} "${v}" "")
  set(${out} "${node}" PARENT_SCOPE)
endfunction()

# The two DWORDs (most, least significant) of a dotted version.
function(_vr_version_dwords outMs outLs text)
  string(REPLACE "." ";" parts "${text}")
  set(nums "")
  foreach(i RANGE 0 3)
    set(n 0)
    list(LENGTH parts count)
    if(i LESS count)
      list(GET parts ${i} p)
      if(p MATCHES "^ *([0-9]+)")
        string(REGEX REPLACE "^0+([0-9])" "\\1" n "${CMAKE_MATCH_1}")
        string(LENGTH "${n}" digits)
        if(digits GREATER 5 OR n GREATER 65535)
          set(n 65535)
        endif()
      endif()
    endif()
    list(APPEND nums ${n})
  endforeach()
  list(GET nums 0 a)
  list(GET nums 1 b)
  list(GET nums 2 c)
  list(GET nums 3 d)
  math(EXPR ms "(${a} << 16) | ${b}")
  math(EXPR ls "(${c} << 16) | ${d}")
  set(${outMs} ${ms} PARENT_SCOPE)
  set(${outLs} ${ls} PARENT_SCOPE)
endfunction()

foreach(required OUT FILE_VERSION PRODUCT_VERSION)
  if("${${required}}" STREQUAL "")
    message(FATAL_ERROR "VersionResource.cmake: ${required} not given")
  endif()
endforeach()

_vr_version_dwords(fileMs fileLs "${FILE_VERSION}")
_vr_version_dwords(prodMs prodLs "${PRODUCT_VERSION}")
set(fixed "")
foreach(dword
    0xFEEF04BD    # signature
    0x00010000    # structure version 1.0
    ${fileMs} ${fileLs} ${prodMs} ${prodLs}
    0x3F          # file flags mask
    0             # file flags
    0x00040004    # VOS_NT_WINDOWS32
    1             # VFT_APP
    0             # subtype
    0 0)          # file date
  _vr_int(h ${dword} 4)
  string(APPEND fixed "${h}")
endforeach()

_vr_string(sFile "FileVersion" "${FILE_VERSION}")
_vr_string(sProduct "ProductVersion" "${PRODUCT_VERSION}")
_vr_node(table "040904E4" 1 0 "" "${sFile}${sProduct}")
_vr_node(stringInfo "StringFileInfo" 1 0 "" "${table}")
_vr_int(lang 0x0409 2)
_vr_int(codepage 0x04E4 2)
_vr_node(translation "Translation" 0 4 "${lang}${codepage}" "")
_vr_node(varInfo "VarFileInfo" 1 0 "" "${translation}")
_vr_node(root "VS_VERSION_INFO" 0 52 "${fixed}" "${stringInfo}${varInfo}")

string(REGEX REPLACE "(..)" "0x\\1," bytes "${root}")
string(REPEAT "0x..," 16 row)
string(REGEX REPLACE "(${row})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUT}" "// Generated at build time by cmake/VersionResource.cmake; do not edit.
// The program's version block (VS_VERSIONINFO), read back from the ELF
// section \".vsversion\" by the console's version reader.
[[maybe_unused]] static const unsigned char trellane_vsversion[]
    __attribute__((section(\".vsversion\"), used)) = {
    ${bytes}
};
")
