# The hardening Debian's own packages are built with: checked buffer sizes where the compiler
# knows them, a stack guard and clash protection, and relocations read-only before main runs.
add_compile_options(-fstack-protector-strong -fstack-clash-protection -Wformat -Werror=format-security)
# Fortification needs the optimiser, so a debug build goes without it.
add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE> $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=3>)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|amd64|i.86")
  add_compile_options(-fcf-protection)
endif()
add_link_options(-Wl,-z,relro,-z,now)
