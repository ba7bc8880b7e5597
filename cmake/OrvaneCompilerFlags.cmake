# Warnings for every target of the project; -Werror in CI builds.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
                    -Woverloaded-virtual -Wimplicit-fallthrough)
if(ORVANE_WERROR)
  add_compile_options(-Werror)
endif()

if(ORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzzers: every object gets coverage instrumentation, the fuzz programs link libFuzzer.
if(ORVANE_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Fails the configure step if a core target links a Qt Widgets library, so the layering
# cannot erode by accident.
function(orvane_forbid_widgets target)
  get_target_property(libs ${target} LINK_LIBRARIES)
  foreach(lib IN LISTS libs)
    if(lib MATCHES "Widgets|PrintSupport|Svg")
      message(FATAL_ERROR "${target} must not link ${lib}: core code stays free of Qt Widgets")
    endif()
  endforeach()
endfunction()
