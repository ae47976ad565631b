# One interface target carries the warning flags; every target of ours links it.
add_library(morvex_warnings INTERFACE)
target_compile_options(morvex_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor
  -Wold-style-cast -Wnull-dereference -Wformat=2)
if(MORVEX_WERROR)
  target_compile_options(morvex_warnings INTERFACE -Werror)
endif()
