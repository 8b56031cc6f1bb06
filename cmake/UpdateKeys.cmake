# The updater's keys (PATCHLOOM_UPDATE_KEY): each .pub file checked at
# configure time, and their texts as the C++ initializer cmake/updatekey.cpp.in
# takes.
#
#   patchloom_update_key_texts(OUT_VAR "KEY;FILES" WORK_DIR)
#
# sets OUT_VAR to '"<text>", ' for each file, in list order ("" for an
# empty list). It stops the configuration (FATAL_ERROR), naming the file,
# when a file cannot be read or is not a public key written by 'paktool
# keygen' (format 1: a "public" line; format 2: "id" and "public" lines),
# when its key is not 64 lower-case hex digits or no Ed25519 public key (no
# point of the curve, or one of small order), when its id line is not the
# key's id, or when two files hold keys of one id. The point and the id are
# checked by cmake/updatekeycheck.cpp, built in WORK_DIR for the build
# machine (with its C++ compiler and libgcrypt, also in a cross build) from
# the library's own Ed25519 code.
#
# Also a script: cmake -DKEYS="a.pub;b.pub" -DWORK=DIR -P cmake/UpdateKeys.cmake
# prints the initializer, or fails as the configuration would.
set(_PATCHLOOM_UPDATE_KEYS_ROOT "${CMAKE_CURRENT_LIST_DIR}/..")

# The build machine's key check program, built when missing or older than
# its sources.
function(_patchloom_key_checker OUT_VAR WORK_DIR)
  set(_root "${_PATCHLOOM_UPDATE_KEYS_ROOT}")
  set(_sources
    "${_root}/cmake/updatekeycheck.cpp"
    "${_root}/tools/filepacktools_lib/ed25519.cpp"
    "${_root}/tools/filepacktools_lib/cryptolib.cpp")
  set(_program "${WORK_DIR}/updatekeycheck")
  set(_stale FALSE)
  if(NOT EXISTS "${_program}")
    set(_stale TRUE)
  else()
    foreach(_source IN LISTS _sources ITEMS "${_root}/tools/filepacktools_lib/ed25519.h")
      if("${_source}" IS_NEWER_THAN "${_program}")
        set(_stale TRUE)
      endif()
    endforeach()
  endif()
  if(_stale)
    if(NOT CMAKE_CROSSCOMPILING AND CMAKE_CXX_COMPILER)
      set(_cxx "${CMAKE_CXX_COMPILER}")
    else()
      find_program(PATCHLOOM_HOST_CXX NAMES c++ g++ clang++ NO_CMAKE_FIND_ROOT_PATH)
      set(_cxx "${PATCHLOOM_HOST_CXX}")
    endif()
    if(NOT _cxx)
      message(FATAL_ERROR "PATCHLOOM_UPDATE_KEY: no C++ compiler for the build machine to check the keys with")
    endif()
    file(MAKE_DIRECTORY "${WORK_DIR}")
    execute_process(
      COMMAND "${_cxx}" -std=c++17 -O1 "-I${_root}" ${_sources} -lgcrypt -o "${_program}"
      RESULT_VARIABLE _result OUTPUT_VARIABLE _output ERROR_VARIABLE _output)
    if(NOT _result EQUAL 0)
      message(FATAL_ERROR "PATCHLOOM_UPDATE_KEY: the key check (cmake/updatekeycheck.cpp) does not build with "
                          "${_cxx} and the build machine's libgcrypt (Debian: libgcrypt20-dev):\n${_output}")
    endif()
  endif()
  set(${OUT_VAR} "${_program}" PARENT_SCOPE)
endfunction()

# The key and id lines of one .pub file's text.
function(_patchloom_read_key FILE OUT_KEY OUT_ID)
  if(NOT EXISTS "${FILE}" OR IS_DIRECTORY "${FILE}")
    message(FATAL_ERROR "PATCHLOOM_UPDATE_KEY: ${FILE} cannot be read")
  endif()
  file(READ "${FILE}" _text)
  set(_key "")
  set(_id "")
  if(_text MATCHES "^patchloom-ed25519-public-key 1\npublic ([^\n]*)\n$")
    set(_key "${CMAKE_MATCH_1}")
  elseif(_text MATCHES "^patchloom-ed25519-public-key 2\nid ([^\n]*)\npublic ([^\n]*)\n$")
    set(_id "${CMAKE_MATCH_1}")
    set(_key "${CMAKE_MATCH_2}")
  elseif(_text MATCHES "^patchloom-ed25519-public-key 2\npublic ([^\n]*)\nid ([^\n]*)\n$")
    set(_key "${CMAKE_MATCH_1}")
    set(_id "${CMAKE_MATCH_2}")
  else()
    message(FATAL_ERROR "PATCHLOOM_UPDATE_KEY: ${FILE} is not a public key written by paktool keygen")
  endif()
  string(LENGTH "${_key}" _length)
  if(NOT _length EQUAL 64 OR NOT _key MATCHES "^[0-9a-f]+$")
    message(FATAL_ERROR "PATCHLOOM_UPDATE_KEY: ${FILE}: the public key is not 64 lower-case hex digits: ${_key}")
  endif()
  set(${OUT_KEY} "${_key}" PARENT_SCOPE)
  set(${OUT_ID} "${_id}" PARENT_SCOPE)
  set(_PATCHLOOM_KEY_TEXT "${_text}" PARENT_SCOPE)
endfunction()

function(patchloom_update_key_texts OUT_VAR KEY_FILES WORK_DIR)
  set(_texts "")
  set(_ids "")
  set(_checker "")
  foreach(_file IN LISTS KEY_FILES)
    _patchloom_read_key("${_file}" _key _recorded_id)
    if(NOT _checker)
      _patchloom_key_checker(_checker "${WORK_DIR}")
    endif()
    execute_process(COMMAND "${_checker}" "${_key}" RESULT_VARIABLE _result OUTPUT_VARIABLE _id
                    ERROR_VARIABLE _errors OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(_result EQUAL 1)
      message(FATAL_ERROR "PATCHLOOM_UPDATE_KEY: ${_file}: the public key is not a valid Ed25519 point "
                          "(no point of the curve, or one of small order): ${_key}")
    elseif(NOT _result EQUAL 0)
      message(FATAL_ERROR "PATCHLOOM_UPDATE_KEY: ${_file}: the key check failed (${_result}): ${_errors}")
    endif()
    if(_recorded_id AND NOT _recorded_id STREQUAL _id)
      message(FATAL_ERROR "PATCHLOOM_UPDATE_KEY: ${_file}: the id ${_recorded_id} is not the key's (${_id})")
    endif()
    list(FIND _ids "${_id}" _listed)
    if(NOT _listed EQUAL -1)
      message(FATAL_ERROR "PATCHLOOM_UPDATE_KEY: ${_file}: a key of id ${_id} is listed twice")
    endif()
    list(APPEND _ids "${_id}")
    string(REPLACE "\n" "\\n" _escaped "${_PATCHLOOM_KEY_TEXT}")
    string(APPEND _texts "\"${_escaped}\", ")
  endforeach()
  set(${OUT_VAR} "${_texts}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  patchloom_update_key_texts(_patchloom_texts "${KEYS}" "${WORK}")
  message("${_patchloom_texts}")
endif()
