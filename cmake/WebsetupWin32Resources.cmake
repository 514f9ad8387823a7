# websetup_win32_resources(<dir> EXECUTION_LEVEL <level> COMPANY_NAME <name>
#                          LEGAL_COPYRIGHT <text>)
# Generates <dir>/wrenkit-setup.rc, the stub's resource script, and the
# manifest it embeds from resources/win32, with the product of this build
# (the catalogue row's name, stub name and icon), the given version-resource
# fields (empty ones are left out) and the execution level.

# A resource script's string takes a quote as "" and reads backslash escapes;
# a setting may hold either.
function(websetup_rc_string out value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\"\"" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

function(websetup_rc_optional_value out key value)
  if(value STREQUAL "")
    set(${out} "" PARENT_SCOPE)
  else()
    websetup_rc_string(value "${value}")
    set(${out} "VALUE \"${key}\", \"${value}\"" PARENT_SCOPE)
  endif()
endfunction()

function(websetup_win32_resources dir)
  cmake_parse_arguments(ARG "" "EXECUTION_LEVEL;COMPANY_NAME;LEGAL_COPYRIGHT" "" ${ARGN})
  if(NOT ARG_EXECUTION_LEVEL MATCHES "^(requireAdministrator|highestAvailable|asInvoker)$")
    message(FATAL_ERROR "WEBSETUP_EXECUTION_LEVEL: the execution level must be requireAdministrator, highestAvailable "
                        "or asInvoker, not \"${ARG_EXECUTION_LEVEL}\"")
  endif()
  set(templates "${PROJECT_SOURCE_DIR}/resources/win32")
  set(execution_level "${ARG_EXECUTION_LEVEL}")
  websetup_rc_string(rc_product_name "${WEBSETUP_PRODUCT_DISPLAY_NAME}")
  websetup_rc_string(rc_stub_name "${WEBSETUP_STUB_NAME}")
  websetup_rc_optional_value(rc_company_value CompanyName "${ARG_COMPANY_NAME}")
  websetup_rc_optional_value(rc_copyright_value LegalCopyright "${ARG_LEGAL_COPYRIGHT}")
  set(rc_icon "${WEBSETUP_STUB_ICON_ICO}")
  set(rc_manifest "${dir}/wrenkit-setup.manifest")
  configure_file("${templates}/wrenkit-setup.manifest.in" "${rc_manifest}" @ONLY)
  # windres does not report the files a script includes as dependencies:
  # their digests in the script rebuild the resources when either changes.
  file(SHA256 "${rc_icon}" rc_icon_digest)
  file(SHA256 "${rc_manifest}" rc_manifest_digest)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${rc_icon}")
  configure_file("${templates}/wrenkit-setup.rc.in" "${dir}/wrenkit-setup.rc" @ONLY)
endfunction()
