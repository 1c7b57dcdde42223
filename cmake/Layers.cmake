# The library's layers, one target each, lowest first:
#
#   platform interface (src/platform/*.h) and one backend (src/platform/<os>/)
#   < link < format < runtime < download, upload < session
#
# A layer sees its own folder and, through the targets it depends on, the
# folders of the layers below it, and nothing else: each layer's include
# path is a folder of the build tree holding a link to its own source
# folder only.  An #include that runs upward ("session/options.h" from
# download/) finds no such file and does not compile.  #include lines keep
# the "layer/file.h" form.
set(ORV5_LAYER_ROOT ${PROJECT_BINARY_DIR}/layers)
file(REMOVE_RECURSE ${ORV5_LAYER_ROOT})

# <root>/<folder> -> src/<folder>: the scope that exposes one source folder.
function(orv5_layer_scope root folder)
  file(MAKE_DIRECTORY ${ORV5_LAYER_ROOT}/${root})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${ORV5_LAYER_ROOT}/${root}/${folder} SYMBOLIC)
endfunction()

# The platform interface: the headers directly in src/platform, one link
# each, so that the backends' own headers stay out of every other layer.
set(ORV5_PLATFORM_IF_DIR ${ORV5_LAYER_ROOT}/platform_if/platform)
file(MAKE_DIRECTORY ${ORV5_PLATFORM_IF_DIR})
file(GLOB ORV5_PLATFORM_HEADERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/*.h)
foreach(header ${ORV5_PLATFORM_HEADERS})
  get_filename_component(name ${header} NAME)
  file(CREATE_LINK ${header} ${ORV5_PLATFORM_IF_DIR}/${name} SYMBOLIC)
endforeach()
add_library(orv5_platform_if INTERFACE)
target_include_directories(orv5_platform_if INTERFACE
  ${PROJECT_SOURCE_DIR}/include ${ORV5_LAYER_ROOT}/platform_if)
target_compile_definitions(orv5_platform_if INTERFACE ORV5_BUILDING_LIBRARY)

# The platform backend of this build sees the whole platform folder (its
# own headers included) and nothing above it.  Network ports (net/: the
# telnet codec and the port backend) are portable code that both real
# platforms compile in, each with its own socket calls.
orv5_layer_scope(platform_impl platform)
file(GLOB ORV5_PLATFORM_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/src/platform/${ORV5_PLATFORM}/*.cpp
  ${PROJECT_SOURCE_DIR}/src/platform/net/*.cpp)
add_library(orv5platform OBJECT ${ORV5_PLATFORM_SOURCES})
target_include_directories(orv5platform PRIVATE ${ORV5_LAYER_ROOT}/platform_impl)
target_link_libraries(orv5platform PUBLIC orv5_platform_if)
set_target_properties(orv5platform PROPERTIES CXX_VISIBILITY_PRESET hidden)

# The simulated platform of the unit, soak and fuzz programs (in place of
# the backend): src/platform/sim with the POSIX file operations it wraps.
file(GLOB ORV5_SIM_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/sim/*.cpp)

# orv5_layer(NAME DEPENDS...): the object library orv5_<NAME> of
# src/<NAME>/*.cpp, on top of the layers it depends on.
set(ORV5_CORE_SOURCES)
set(ORV5_CORE_OBJECTS)
function(orv5_layer name)
  orv5_layer_scope(${name} ${name})
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp)
  add_library(orv5_${name} OBJECT ${sources})
  target_include_directories(orv5_${name} PUBLIC ${ORV5_LAYER_ROOT}/${name})
  target_link_libraries(orv5_${name} PUBLIC orv5_platform_if ${ARGN})
  set_target_properties(orv5_${name} PROPERTIES CXX_VISIBILITY_PRESET hidden)
  # A result marked [[nodiscard]] that is dropped does not compile: it is
  # handled, or discarded with a visible (void) and a comment.
  target_compile_options(orv5_${name} PRIVATE -Werror=unused-result)
  set(ORV5_CORE_SOURCES ${ORV5_CORE_SOURCES} ${sources} PARENT_SCOPE)
  set(ORV5_CORE_OBJECTS ${ORV5_CORE_OBJECTS} $<TARGET_OBJECTS:orv5_${name}> PARENT_SCOPE)
endfunction()

orv5_layer(link)
orv5_layer(format orv5_link)
orv5_layer(runtime orv5_format orv5_link)
orv5_layer(download orv5_runtime orv5_format orv5_link)
orv5_layer(upload orv5_runtime orv5_format orv5_link)
orv5_layer(session orv5_download orv5_upload orv5_runtime orv5_format orv5_link)

# orvw lists the plug-ins the library would find: the platform's plug-in
# folders, through the platform interface alone.
add_library(orv5_plugin_dirs OBJECT
  ${PROJECT_SOURCE_DIR}/src/platform/${ORV5_PLATFORM}/plugin_dir_${ORV5_PLATFORM}.cpp)
target_include_directories(orv5_plugin_dirs PUBLIC
  ${PROJECT_SOURCE_DIR}/include ${ORV5_LAYER_ROOT}/platform_if)
