# Fails when a file under src/ includes a header of a layer above its own, or when a file of the
# core, the session or the text module includes a Qt header. Every target shares src/ as its
# include path, so such an include would compile; this check is what stops it.
#
# Run as: cmake -DSOURCE_DIR=<repository>/src -P layer_includes.cmake
cmake_minimum_required(VERSION 3.22)

if(NOT SOURCE_DIR OR NOT IS_DIRECTORY "${SOURCE_DIR}")
  message(FATAL_ERROR "layer_includes: pass -DSOURCE_DIR=<the src folder>")
endif()
get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)

# What each layer may include, itself always among them.
set(_core storage volumes recovery export recoverylog carving)
set(allowed_storage storage)
set(allowed_volumes storage volumes)
set(allowed_recovery storage volumes recovery)
set(allowed_export storage volumes recovery export)
set(allowed_recoverylog storage volumes recovery recoverylog)
set(allowed_carving storage carving)
set(allowed_session ${_core} session)
set(allowed_texts ${_core} session texts)
set(allowed_cli ${_core} session texts cli)
set(allowed_ui ${_core} session texts ui)
set(allowed_app ${_core} session texts ui app)
set(_layers ${_core} session texts cli ui app)
# Layers that stay free of Qt.
set(_qt_free ${_core} session texts)

# The layer a path under src/ belongs to (its first folder), or "" for a path outside src/.
function(layer_of path out)
  file(RELATIVE_PATH _rel "${SOURCE_DIR}" "${path}")
  if(_rel MATCHES "^\\.\\./" OR NOT _rel MATCHES "/")
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  string(REGEX REPLACE "/.*" "" _first "${_rel}")
  set(${out} "${_first}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE _files LIST_DIRECTORIES false
  "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.hpp" "${SOURCE_DIR}/*.hh"
  "${SOURCE_DIR}/*.cpp" "${SOURCE_DIR}/*.cc" "${SOURCE_DIR}/*.cxx" "${SOURCE_DIR}/*.inl")
list(SORT _files)

set(_problems "")
set(_checked 0)
foreach(_file IN LISTS _files)
  layer_of("${_file}" _layer)
  file(RELATIVE_PATH _shown "${SOURCE_DIR}" "${_file}")
  if(NOT _layer IN_LIST _layers)
    list(JOIN _layers ", " _known)
    list(APPEND _problems "src/${_shown}: lies in no known layer (${_known})")
    continue()
  endif()
  math(EXPR _checked "${_checked} + 1")
  get_filename_component(_dir "${_file}" DIRECTORY)
  file(STRINGS "${_file}" _lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(_line IN LISTS _lines)
    if(NOT _line MATCHES "#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
      continue()
    endif()
    set(_quote "${CMAKE_MATCH_1}")
    set(_header "${CMAKE_MATCH_2}")

    if(_quote STREQUAL "<" AND _header MATCHES "^(Q|qt)" AND _layer IN_LIST _qt_free)
      list(APPEND _problems "src/${_shown}: ${_layer} must not include a Qt header: <${_header}>")
      continue()
    endif()

    # Which layer the header belongs to: its first folder when that names a layer, else (a
    # quoted path relative to the including file) the folder it resolves to under src/.
    string(REGEX REPLACE "/.*" "" _first "${_header}")
    set(_target "")
    if(_header MATCHES "/" AND _first IN_LIST _layers)
      set(_target "${_first}")
    elseif(_quote STREQUAL "\"")
      get_filename_component(_resolved "${_dir}/${_header}" ABSOLUTE)
      layer_of("${_resolved}" _target)
    endif()
    if(_target STREQUAL "" OR NOT _target IN_LIST _layers)
      continue()
    endif()
    if(NOT _target IN_LIST allowed_${_layer})
      list(JOIN allowed_${_layer} ", " _may)
      list(APPEND _problems "src/${_shown}: ${_layer} must not include ${_target} (\"${_header}\"), only ${_may}")
    endif()
  endforeach()
endforeach()

if(_problems)
  list(LENGTH _problems _count)
  list(JOIN _problems "\n  " _text)
  message(FATAL_ERROR "${_count} include(s) break the layering:\n  ${_text}")
endif()
message(STATUS "layer includes: ${_checked} files follow the layering")
