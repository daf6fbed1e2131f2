# The layers of src/ are kept by the build: each library sees, instead of src/, a folder of links to the
# folders it may use, so that an include across a forbidden line fails to build.
#   support    the log, threads, handle owners, files, CNG             rules
#   framework  the application and dialog layer over Win32             support
#   net        HttpDownload, the credentials dialog                    framework, support, res
#   system     registration, links, client process, folders            support
#   core + ui  CSetupDlg: the install run and the window               net, system, framework, support, res, app
#   app        start-up and the process-wide constants                 everything
#   uninstall  UnInstall.exe                                           system, framework, support, res
# Every layer may use the portable rules (core/rules, which their library brings); the rules use nothing
# of the programs.
function(mirevale_layer target)
  set(view "${CMAKE_BINARY_DIR}/layers/${target}")
  foreach(folder IN LISTS ARGN)
    get_filename_component(parent "${view}/${folder}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    if(NOT EXISTS "${view}/${folder}")
      file(CREATE_LINK "${CMAKE_SOURCE_DIR}/src/${folder}" "${view}/${folder}" SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} PRIVATE "${view}")
endfunction()

# A library of one folder of src/ (its .cpp files), in its layer.
function(mirevale_layer_library target folder)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${folder}/*.cpp)
  add_library(${target} STATIC ${sources})
  target_compile_options(${target} PRIVATE ${MIREVALE_WARNINGS})
  mirevale_layer(${target} ${folder} ${ARGN})
endfunction()
