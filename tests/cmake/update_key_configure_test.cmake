# The updater's keys as the configuration checks them (cmake/UpdateKeys.cmake):
# good keys of both formats, alone and two together, give their texts in
# order (and the generated source compiles); a key of the wrong length, one
# that is no Ed25519 point, an id that is not the key's, one key twice,
# something that is not a key file or no file stop the configuration,
# naming the file. Last, a real configuration of the project with a key of
# the wrong length fails naming it.
#   cmake -DSOURCE=<source dir> -DWORK=<scratch dir> -P update_key_configure_test.cmake
cmake_minimum_required(VERSION 3.16)
set(_module "${SOURCE}/cmake/UpdateKeys.cmake")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/keys")

# RFC 8032's first two public keys, their ids, and keys that are none.
set(_key1 "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a")
set(_id1 "0e02a50225b4baaa")
set(_key2 "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c")
set(_id2 "56c04d48d44f95fb")
set(_no_x "0200000000000000000000000000000000000000000000000000000000000000")  # y = 2 has no x
set(_neutral "0100000000000000000000000000000000000000000000000000000000000000")
set(_order8 "c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac037a")

function(write_key NAME TEXT)
  file(WRITE "${WORK}/keys/${NAME}" "${TEXT}")
endfunction()
write_key(old.pub "patchloom-ed25519-public-key 1\npublic ${_key1}\n")
write_key(new.pub "patchloom-ed25519-public-key 2\nid ${_id2}\npublic ${_key2}\n")
write_key(swapped.pub "patchloom-ed25519-public-key 2\npublic ${_key1}\nid ${_id1}\n")
write_key(short.pub "patchloom-ed25519-public-key 1\npublic 9f0a67\n")
write_key(upper.pub "patchloom-ed25519-public-key 1\npublic D75A980182B10AB7D54BFED3C964073A0EE172F3DAA62325AF021A68F707511A\n")
write_key(nox.pub "patchloom-ed25519-public-key 1\npublic ${_no_x}\n")
write_key(neutral.pub "patchloom-ed25519-public-key 1\npublic ${_neutral}\n")
write_key(order8.pub "patchloom-ed25519-public-key 2\nid 0000000000000000\npublic ${_order8}\n")
write_key(wrongid.pub "patchloom-ed25519-public-key 2\nid ${_id1}\npublic ${_key2}\n")
write_key(secret.key "patchloom-ed25519-secret-key 1\nseed ${_key1}\npublic ${_key2}\n")

set(_failures 0)
function(fail TEXT)
  message(SEND_ERROR "${TEXT}")
endfunction()

# Runs the module on the key files; checks the outcome and that the
# output (all of it, the texts or the error) holds each of ARGN.
function(check_keys WHAT EXPECT_OK KEYS)
  set(_paths "")
  foreach(_key IN LISTS KEYS)
    list(APPEND _paths "${WORK}/keys/${_key}")
  endforeach()
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DKEYS=${_paths}" "-DWORK=${WORK}/check" -P "${_module}"
                  RESULT_VARIABLE _result OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
  # CMake wraps its messages at spaces.
  string(REGEX REPLACE "[ \n]+" " " _flat "${_out}")
  if(EXPECT_OK AND NOT _result EQUAL 0)
    fail("${WHAT}: refused:\n${_out}")
  elseif(NOT EXPECT_OK AND _result EQUAL 0)
    fail("${WHAT}: accepted:\n${_out}")
  endif()
  foreach(_expected IN LISTS ARGN)
    string(FIND "${_flat}" "${_expected}" _at)
    if(_at LESS 0)
      fail("${WHAT}: no \"${_expected}\" in:\n${_out}")
    endif()
  endforeach()
  set(_last_output "${_out}" PARENT_SCOPE)
endfunction()

check_keys("a key of format 1" TRUE "old.pub"
  "\"patchloom-ed25519-public-key 1\\npublic ${_key1}\\n\", ")
check_keys("the old and the new key" TRUE "old.pub;new.pub"
  "\"patchloom-ed25519-public-key 1\\npublic ${_key1}\\n\", \"patchloom-ed25519-public-key 2\\nid ${_id2}\\npublic ${_key2}\\n\", ")
set(_two "${_last_output}")
check_keys("an id line after the key" TRUE "swapped.pub" "id ${_id1}")
check_keys("no key" TRUE "")

check_keys("a key of 6 hex digits" FALSE "short.pub" "${WORK}/keys/short.pub" "not 64 lower-case hex digits")
check_keys("upper-case hex digits" FALSE "upper.pub" "${WORK}/keys/upper.pub" "not 64 lower-case hex digits")
check_keys("no point of the curve" FALSE "old.pub;nox.pub" "${WORK}/keys/nox.pub" "not a valid Ed25519 point")
check_keys("the neutral element" FALSE "neutral.pub" "${WORK}/keys/neutral.pub" "not a valid Ed25519 point")
check_keys("a point of order 8" FALSE "order8.pub" "${WORK}/keys/order8.pub" "not a valid Ed25519 point")
check_keys("an id that is not the key's" FALSE "wrongid.pub" "${WORK}/keys/wrongid.pub" "is not the key's (${_id2})")
check_keys("one key twice" FALSE "old.pub;swapped.pub" "${WORK}/keys/swapped.pub" "listed twice")
check_keys("a secret key" FALSE "secret.key" "${WORK}/keys/secret.key" "is not a public key written by paktool keygen")
check_keys("no file" FALSE "missing.pub" "${WORK}/keys/missing.pub" "cannot be read")

# The source the configuration generates from two keys compiles.
string(STRIP "${_two}" PATCHLOOM_UPDATE_KEY_TEXTS)
configure_file("${SOURCE}/cmake/updatekey.cpp.in" "${WORK}/updatekey.cpp" @ONLY)
find_program(_cxx NAMES c++ g++ clang++)
execute_process(COMMAND "${_cxx}" -std=c++17 -fsyntax-only "-I${SOURCE}" "${WORK}/updatekey.cpp"
                RESULT_VARIABLE _result ERROR_VARIABLE _errors)
if(NOT _result EQUAL 0)
  fail("the generated key source does not compile:\n${_errors}")
endif()

# The project's own configuration stops at a bad key, naming it.
execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${WORK}/project" -DPATCHLOOM_TESTS=OFF
                        "-DPATCHLOOM_UPDATE_KEY=${WORK}/keys/old.pub;${WORK}/keys/short.pub"
                RESULT_VARIABLE _result OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
string(REGEX REPLACE "[ \n]+" " " _flat "${_out}")
string(FIND "${_flat}" "PATCHLOOM_UPDATE_KEY: ${WORK}/keys/short.pub: the public key is not 64" _at)
if(_result EQUAL 0 OR _at LESS 0)
  fail("the project configured with a key of 6 hex digits, or did not name it:\n${_out}")
endif()
