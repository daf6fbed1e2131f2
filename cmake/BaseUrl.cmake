# The download base URL compiled into the installer: the server folder /EX/ on any host and port, over
# plain HTTP or TLS. No user part, query or fragment, and nothing after /EX/.
function(mirevale_base_url_valid url result)
  if(url MATCHES "^https?://[^/?#@]+/EX/$")
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()
