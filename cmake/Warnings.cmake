add_library(wendrix_warnings INTERFACE)
target_compile_options(wendrix_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)
if(WENDRIX_WERROR)
  target_compile_options(wendrix_warnings INTERFACE -Werror)
endif()
