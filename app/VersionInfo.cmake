# Version information of the program file (widget-free). Included from app/CMakeLists.txt and
# from the unit tests, whichever comes first; the section it reads is added to an executable by
# velmora_add_version_resource().
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/VersionResource.cmake)

add_library(velmora_versioninfo STATIC ${CMAKE_CURRENT_LIST_DIR}/VersionInfo.cpp)
target_include_directories(velmora_versioninfo PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(velmora_versioninfo PUBLIC velmora_warnings velmora_platform Qt6::Core)
