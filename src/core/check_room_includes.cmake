# Fails when a file of the core room ROOM (folder ROOM_DIR) includes a core header of a room
# that is not in ALLOWED (comma-separated: the rooms on lower levels) or its own; on success
# touches STAMP. Run by the build (src/core/CMakeLists.txt) before the room compiles.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" allowed "${ALLOWED}")
list(APPEND allowed ${ROOM})
file(GLOB_RECURSE files ${ROOM_DIR}/*.cpp ${ROOM_DIR}/*.h)
set(faults "")
foreach(f IN LISTS files)
  file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(line MATCHES "[<\"]core/([A-Za-z0-9_]+)/")
      if(NOT CMAKE_MATCH_1 IN_LIST allowed)
        string(APPEND faults "\n  ${f}: ${line}")
      endif()
    elseif(line MATCHES "[<\"][^>\"]*\\.\\./")
      # A relative path would slip past the rule; core headers are named from src/.
      string(APPEND faults "\n  ${f}: ${line} (name core headers as core/<room>/...)")
    endif()
  endforeach()
endforeach()
if(faults)
  string(REPLACE ";" ", " shown "${allowed}")
  message(FATAL_ERROR
    "The core room '${ROOM}' may include only the rooms ${shown}; wrong-way include:${faults}")
endif()
file(WRITE ${STAMP} "")
