# Reads a product catalogue file (the format is described at the top of
# app/product-catalogue.txt), checks every row and makes the C++ initialiser
# of the compiled-in table from it.
#
# In a project: include(WebsetupCatalogue), then
#   websetup_read_catalogue(<file> <product key>)
# sets, in the caller's scope:
#   WEBSETUP_CATALOGUE_SIZE        number of rows
#   WEBSETUP_CATALOGUE_ROWS        the rows as C++ initialisers, one a line
#   WEBSETUP_CATALOGUE_FILES       the file and every icon it names
#   WEBSETUP_STUB_NAME             the product's stub file name, no extension
#   WEBSETUP_PRODUCT_DISPLAY_NAME  the product's display name
#   WEBSETUP_STUB_ICON_PNG         absolute path of the product's PNG icon
#   WEBSETUP_STUB_ICON_ICO         absolute path of the product's ICO icon
# Any fault in the file stops with "<file>:<line>: <what is wrong>".
#
# As a script, the same checks alone (the tests run it on broken files):
#   cmake -DCATALOGUE=<file> -DPRODUCT_KEY=<key> -P cmake/WebsetupCatalogue.cmake

if(CMAKE_SCRIPT_MODE_FILE)
  cmake_minimum_required(VERSION 3.20)
endif()

# Rows without icons of their own get the program's neutral download icon.
set(_websetup_catalogue_default_png "${CMAKE_CURRENT_LIST_DIR}/../resources/wrenkit-setup.png")
set(_websetup_catalogue_default_ico "${CMAKE_CURRENT_LIST_DIR}/../resources/win32/wrenkit-setup.ico")
set(_websetup_catalogue_required id key display-name file-stem host path manual-page)
set(_websetup_catalogue_optional stub-name icon-png icon-ico)

function(_websetup_catalogue_fail line what)
  message(FATAL_ERROR "${_websetup_catalogue_file}:${line}: ${what}")
endfunction()

# A C++ string literal of value. "?" is escaped too: it must not start a
# trigraph in a compiler that still reads them.
function(_websetup_cpp_literal out prefix value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  string(REPLACE "?" "\\?" value "${value}")
  set(${out} "${prefix}\"${value}\"" PARENT_SCOPE)
endfunction()

# Checks one field's value; `line` is where it stands, `row` the row number.
function(_websetup_catalogue_check_field row name value line)
  if(value STREQUAL "")
    _websetup_catalogue_fail(${line} "field \"${name}\" is empty")
  endif()
  if(name STREQUAL "id")
    if(NOT value MATCHES "^[0-9]+$" OR NOT value EQUAL row)
      _websetup_catalogue_fail(${line}
        "id \"${value}\" should be ${row}: rows are numbered 1, 2, 3... in the order of the file")
    endif()
  elseif(name STREQUAL "key")
    if(NOT value MATCHES "^[a-z0-9._-]+$")
      _websetup_catalogue_fail(${line}
        "key \"${value}\" is not lower-case ASCII (a-z, 0-9, \".\", \"_\", \"-\")")
    endif()
  elseif(name STREQUAL "host")
    if(NOT value MATCHES "^https://[^/?#@ \t]+$")
      _websetup_catalogue_fail(${line}
        "host \"${value}\" is not an https address of a host alone (https://name or https://name:port)")
    endif()
  elseif(name STREQUAL "manual-page")
    if(NOT value MATCHES "^https://[^/?#@ \t]+([/?#][^ \t]*)?$")
      _websetup_catalogue_fail(${line} "manual-page \"${value}\" is not an https address")
    endif()
  elseif(name STREQUAL "path")
    if(NOT value MATCHES "^/[^ \t]*$")
      _websetup_catalogue_fail(${line} "path \"${value}\" does not start with \"/\" or holds a blank")
    endif()
  elseif(name STREQUAL "file-stem")
    # It names files in the temporary folder on Windows too.
    if(value MATCHES "[/\\\\:*?\"<>|]" OR value MATCHES "^\\.")
      _websetup_catalogue_fail(${line}
        "file-stem \"${value}\" is not a plain file name (no / \\ : * ? \" < > |, no leading \".\")")
    endif()
  elseif(name STREQUAL "stub-name")
    if(NOT value MATCHES "^[A-Za-z0-9_][A-Za-z0-9._-]*$")
      _websetup_catalogue_fail(${line}
        "stub-name \"${value}\" is not a plain file name (A-Z, a-z, 0-9, \".\", \"_\", \"-\")")
    endif()
  elseif(name MATCHES "^icon-")
    if(NOT EXISTS "${value}" OR IS_DIRECTORY "${value}")
      _websetup_catalogue_fail(${line} "${name}: no file ${value}")
    endif()
  endif()
endfunction()

# Checks that the row that ends here has every required field.
function(_websetup_catalogue_check_row row)
  if(row EQUAL 0)
    return()
  endif()
  foreach(name IN LISTS _websetup_catalogue_required)
    if(NOT DEFINED _row${row}_${name}_line)
      _websetup_catalogue_fail(${_row${row}_line} "product without the field \"${name}\"")
    endif()
  endforeach()
endfunction()

function(websetup_read_catalogue file product_key)
  get_filename_component(file "${file}" ABSOLUTE)
  set(_websetup_catalogue_file "${file}")
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    message(FATAL_ERROR "${file}: no such catalogue file")
  endif()
  get_filename_component(base "${file}" DIRECTORY)
  file(READ "${file}" text)
  # Lines are cut by hand rather than as a CMake list, which would split
  # values at ";" and join lines at unbalanced "[".
  set(row 0)
  set(line_number 0)
  while(NOT text STREQUAL "")
    string(FIND "${text}" "\n" end)
    if(end EQUAL -1)
      set(line "${text}")
      set(text "")
    else()
      string(SUBSTRING "${text}" 0 ${end} line)
      math(EXPR end "${end} + 1")
      string(SUBSTRING "${text}" ${end} -1 text)
    endif()
    math(EXPR line_number "${line_number} + 1")
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    if(line STREQUAL "[product]")
      _websetup_catalogue_check_row(${row})
      math(EXPR row "${row} + 1")
      set(_row${row}_line ${line_number})
    elseif(line MATCHES "^([A-Za-z0-9_-]+)[ \t]*=[ \t]*(.*)$")
      set(name "${CMAKE_MATCH_1}")
      set(value "${CMAKE_MATCH_2}")
      if(NOT name IN_LIST _websetup_catalogue_required AND
         NOT name IN_LIST _websetup_catalogue_optional)
        string(REPLACE ";" ", " known
               "${_websetup_catalogue_required};${_websetup_catalogue_optional}")
        _websetup_catalogue_fail(${line_number} "unknown field \"${name}\" (the fields: ${known})")
      endif()
      if(row EQUAL 0)
        _websetup_catalogue_fail(${line_number} "field \"${name}\" before the first [product] line")
      endif()
      if(DEFINED _row${row}_${name}_line)
        _websetup_catalogue_fail(${line_number}
          "field \"${name}\" given twice for one product (first on line ${_row${row}_${name}_line})")
      endif()
      if(name MATCHES "^icon-" AND NOT value STREQUAL "")
        get_filename_component(value "${value}" ABSOLUTE BASE_DIR "${base}")
      endif()
      _websetup_catalogue_check_field(${row} ${name} "${value}" ${line_number})
      if(name STREQUAL "key")
        if(DEFINED _key_${value}_line)
          _websetup_catalogue_fail(${line_number}
            "duplicate key \"${value}\" (first on line ${_key_${value}_line})")
        endif()
        set(_key_${value}_line ${line_number})
        set(_key_${value}_row ${row})
      endif()
      set(_row${row}_${name} "${value}")
      set(_row${row}_${name}_line ${line_number})
    else()
      _websetup_catalogue_fail(${line_number}
        "neither \"[product]\", a comment nor a \"name = value\" field: ${line}")
    endif()
  endwhile()
  _websetup_catalogue_check_row(${row})
  if(row EQUAL 0)
    message(FATAL_ERROR "${file}: the catalogue lists no product")
  endif()

  set(rows "")
  set(files "${file}")
  foreach(r RANGE 1 ${row})
    set(literals "${r}")
    foreach(column key display-name file-stem host path manual-page)
      set(prefix "")
      if(column STREQUAL "display-name" OR column STREQUAL "file-stem")
        set(prefix "L")
      endif()
      _websetup_cpp_literal(literal "${prefix}" "${_row${r}_${column}}")
      string(APPEND literals ", ${literal}")
    endforeach()
    string(APPEND rows "    {${literals}},\n")
    foreach(icon icon-png icon-ico)
      if(DEFINED _row${r}_${icon})
        list(APPEND files "${_row${r}_${icon}}")
      endif()
    endforeach()
  endforeach()

  if(NOT DEFINED _key_${product_key}_row)
    message(FATAL_ERROR
      "${file}: WEBSETUP_PRODUCT_KEY \"${product_key}\" is the key of no product in this catalogue")
  endif()
  set(r ${_key_${product_key}_row})
  set(stub_name "${product_key}-setup")
  if(DEFINED _row${r}_stub-name)
    set(stub_name "${_row${r}_stub-name}")
  endif()
  get_filename_component(icon_png "${_websetup_catalogue_default_png}" ABSOLUTE)
  get_filename_component(icon_ico "${_websetup_catalogue_default_ico}" ABSOLUTE)
  if(DEFINED _row${r}_icon-png)
    set(icon_png "${_row${r}_icon-png}")
  endif()
  if(DEFINED _row${r}_icon-ico)
    set(icon_ico "${_row${r}_icon-ico}")
  endif()

  set(WEBSETUP_CATALOGUE_SIZE ${row} PARENT_SCOPE)
  set(WEBSETUP_CATALOGUE_ROWS "${rows}" PARENT_SCOPE)
  set(WEBSETUP_CATALOGUE_FILES "${files}" PARENT_SCOPE)
  set(WEBSETUP_STUB_NAME "${stub_name}" PARENT_SCOPE)
  set(WEBSETUP_PRODUCT_DISPLAY_NAME "${_row${r}_display-name}" PARENT_SCOPE)
  set(WEBSETUP_STUB_ICON_PNG "${icon_png}" PARENT_SCOPE)
  set(WEBSETUP_STUB_ICON_ICO "${icon_ico}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  websetup_read_catalogue("${CATALOGUE}" "${PRODUCT_KEY}")
  message(STATUS "${CATALOGUE}: ${WEBSETUP_CATALOGUE_SIZE} products; "
                 "\"${PRODUCT_KEY}\" builds ${WEBSETUP_STUB_NAME}")
endif()
