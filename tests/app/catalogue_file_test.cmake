# cmake -DMODULE=<cmake/WebsetupCatalogue.cmake> -DWORK=<folder> -P catalogue_file_test.cmake
#
# Broken catalogue files, each run through the module that configures every
# build: each must stop with its file, its line and what is wrong, and a
# good file whose values need escaping in C++ must pass.
cmake_minimum_required(VERSION 3.20)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# One product block; `extra` lines go at its end.
function(product out id key host page extra)
  set(${out} "[product]
id = ${id}
key = ${key}
display-name = Product ${id}
file-stem = product_${id}
host = ${host}
path = /download
manual-page = ${page}
${extra}" PARENT_SCOPE)
endfunction()

product(alpha 1 alpha https://downloads.alpha.example https://www.alpha.example/download "")
product(beta 2 beta https://downloads.beta.example https://www.beta.example/download "")
product(beta_as_alpha 2 alpha https://downloads.beta.example https://www.beta.example/ "")
product(beta_as_one 1 beta https://downloads.beta.example https://www.beta.example/ "")
product(http_host 1 alpha http://downloads.alpha.example https://www.alpha.example/ "")
product(http_page 1 alpha https://downloads.alpha.example http://www.alpha.example/ "")
product(host_with_path 1 alpha https://downloads.alpha.example/x https://www.alpha.example/ "")
product(upper_key 1 Alpha https://downloads.alpha.example https://www.alpha.example/ "")
product(icon 1 alpha https://downloads.alpha.example https://www.alpha.example/ "icon-png = alpha.png")
product(typo 1 alpha https://downloads.alpha.example https://www.alpha.example/ "stub_name = x")
string(REPLACE "manual-page = https://www.alpha.example/download\n" "" no_page "${alpha}")

# name | product key | file content | expected ":<line>: <message>" behind the file name
set(cases
  "duplicate key|alpha|${alpha}\n${beta_as_alpha}|:12: duplicate key \"alpha\" (first on line 3)"
  "duplicate id|alpha|${alpha}\n${beta_as_one}|:11: id \"1\" should be 2: rows are numbered"
  "missing field|alpha|${no_page}\n${beta}|:1: product without the field \"manual-page\""
  "http host|alpha|${http_host}|:6: host \"http://downloads.alpha.example\" is not an https address"
  "host with a path|alpha|${host_with_path}|:6: host \"https://downloads.alpha.example/x\" is not an https address"
  "http manual page|alpha|${http_page}|:8: manual-page \"http://www.alpha.example/\" is not an https address"
  "upper-case key|Alpha|${upper_key}|:3: key \"Alpha\" is not lower-case ASCII"
  "misspelt field|alpha|${typo}|:9: unknown field \"stub_name\""
  "missing icon|alpha|${icon}|:9: icon-png: no file ${WORK}/alpha.png"
  "field before a product|alpha|key = alpha\n${alpha}|:1: field \"key\" before the first [product] line"
  "product key absent|gamma|${alpha}\n${beta}|: WEBSETUP_PRODUCT_KEY \"gamma\" is the key of no product"
)

set(failures 0)
set(index 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 name)
  list(GET fields 1 key)
  list(GET fields 2 content)
  list(GET fields 3 expected)
  math(EXPR index "${index} + 1")
  set(file "${WORK}/broken-${index}.txt")
  file(WRITE "${file}" "${content}")
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DCATALOGUE=${file}" "-DPRODUCT_KEY=${key}"
                          -P "${MODULE}"
                  RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
  # CMake wraps long messages; compare with the line breaks undone.
  string(REGEX REPLACE "[ \n]+" " " err "${err}")
  string(FIND "${err}" "${file}${expected}" found)
  if(status EQUAL 0 OR found EQUAL -1)
    message(SEND_ERROR "${name}: expected a failure with \"${file}${expected}\", got status ${status}: ${err}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()

# Values that would break a C++ literal or a CMake list pass unchanged into
# the table, and CR LF line ends are read as line ends.
set(file "${WORK}/good.txt")
file(WRITE "${file}" "# comment\r\n\r\n[product]\r\nid=1\r\nkey = a.b_c-1\r\n"
     "display-name =  Say \"hi\"; [x \\ y??=  \r\nfile-stem = a b\r\n"
     "host = https://127.0.0.1:8443\r\npath = /a;b\r\nmanual-page = https://h.example/?q=1#x\r\n")
execute_process(COMMAND "${CMAKE_COMMAND}" "-DCATALOGUE=${file}" "-DPRODUCT_KEY=a.b_c-1"
                        -P "${MODULE}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out MATCHES "1 products; \"a.b_c-1\" builds a.b_c-1-setup")
  message(SEND_ERROR "a good file was refused (status ${status}): ${out}${err}")
  math(EXPR failures "${failures} + 1")
endif()
include("${MODULE}")
websetup_read_catalogue("${file}" "a.b_c-1")
set(expected
  "    {1, \"a.b_c-1\", L\"Say \\\"hi\\\"; [x \\\\ y\\?\\?=\", L\"a b\", \"https://127.0.0.1:8443\", \"/a;b\", \"https://h.example/\\?q=1#x\"},\n")
if(NOT WEBSETUP_CATALOGUE_ROWS STREQUAL expected)
  message(SEND_ERROR "the row\n${WEBSETUP_CATALOGUE_ROWS}differs from\n${expected}")
  math(EXPR failures "${failures} + 1")
endif()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} catalogue case(s) failed")
endif()
