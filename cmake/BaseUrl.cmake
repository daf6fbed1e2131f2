# The download base URL compiled into the installer: the server folder /EX/ on any host and port, over
# plain HTTP or TLS. No user part, query or fragment, and nothing after /EX/.
function(mirevale_base_url_valid url result)
  if(url MATCHES "^https?://[^/?#@ \t]+/EX/$")
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

# The mirrors, a CMake list of base URLs, as the one text the program splits at blanks; the first one
# that is no base URL in `refused`, empty when all are.
function(mirevale_mirrors_text urls text refused)
  set(joined "")
  set(bad "")
  foreach(url IN LISTS urls)
    mirevale_base_url_valid("${url}" ok)
    if(NOT ok AND bad STREQUAL "")
      set(bad "${url}")
    endif()
    string(APPEND joined " ${url}")
  endforeach()
  string(STRIP "${joined}" joined)
  set(${text} "${joined}" PARENT_SCOPE)
  set(${refused} "${bad}" PARENT_SCOPE)
endfunction()
