# Checks that every Windows program in FILES ("|"-separated) carries a version resource with
# VERSION as its file and product version and its own file name, and one manifest that asks
# for per-monitor DPI awareness and names Windows 7, 8, 8.1 and 10/11 as supported.
#   cmake -DFILES=a.exe|b.exe -DVERSION=1.0.0.0 -P CheckToolResources.cmake

# The UTF-16LE bytes of an ASCII text, as lower-case hexadecimal.
function(utf16_hex text out)
  string(HEX "${text}" hex)
  string(REGEX REPLACE "(..)" "\\100" hex "${hex}")
  set(${out} ${hex} PARENT_SCOPE)
endfunction()

set(failures "")
string(REPLACE "|" ";" files "${FILES}")
foreach(file IN LISTS files)
  get_filename_component(name ${file} NAME)
  file(READ ${file} bytes HEX)
  # A version entry: the key, its terminating zero, padding to four bytes, the value.
  foreach(entry "FileVersion=${VERSION}" "ProductVersion=${VERSION}" "OriginalFilename=${name}")
    string(REPLACE "=" ";" kv "${entry}")
    list(GET kv 0 key)
    list(GET kv 1 value)
    utf16_hex("${key}" keyHex)
    utf16_hex("${value}" valueHex)
    if(NOT bytes MATCHES "${keyHex}0000(0000)?${valueHex}0000")
      string(APPEND failures "${name}: no version entry ${key} = ${value}\n")
    endif()
  endforeach()
  string(HEX "<assembly xmlns=" assemblyHex)
  string(REGEX MATCHALL "${assemblyHex}" manifests "${bytes}")
  list(LENGTH manifests count)
  if(NOT count EQUAL 1)
    string(APPEND failures "${name}: ${count} manifests, not one\n")
  endif()
  foreach(needle "PerMonitorV2" "true/pm" "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}" "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"
                 "{1f676c76-80e1-4239-95bb-83d0f6d0da78}" "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}")
    string(HEX "${needle}" needleHex)
    string(FIND "${bytes}" "${needleHex}" at)
    if(at EQUAL -1)
      string(APPEND failures "${name}: the manifest lacks ${needle}\n")
    endif()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
message(STATUS "version resource and manifest in: ${FILES}")
