# Warning and sanitizer flags shared by every target of the project.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion)
if(WEBSETUP_WERROR)
  add_compile_options(-Werror)
endif()

if(WEBSETUP_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(WEBSETUP_SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT WEBSETUP_SANITIZER STREQUAL "")
  message(FATAL_ERROR "WEBSETUP_SANITIZER must be empty, 'address' or 'thread'")
endif()

# Coverage for libFuzzer in every library the fuzz targets link; the targets
# themselves add the fuzzer's main (tests/fuzz).
if(WEBSETUP_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
