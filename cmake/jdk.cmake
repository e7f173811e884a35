# Locates the JDK pieces the build needs:
#   CCOVER_JNI_INCLUDES  include directories for jni.h (and our win32 jni_md.h)
#   CCOVER_JAVAC, CCOVER_JAR  the host JDK's compiler and archiver
#   CCOVER_LIBJVM        libjvm of the target's JDK (amd64 or i386), which the
#                        tests dlopen; nothing links it. Empty on Windows.

set(CCOVER_HOST_JDK "/usr/lib/jvm/java-17-openjdk-amd64" CACHE PATH
    "JDK providing jni.h, javac and jar")

if(NOT EXISTS "${CCOVER_HOST_JDK}/include/jni.h")
  message(FATAL_ERROR "jni.h not found under ${CCOVER_HOST_JDK}/include; set CCOVER_HOST_JDK")
endif()

if(WIN32)
  # The Linux JDK ships no win32 jni_md.h; ours comes first on the path, and
  # jni.h's own directory does not hold one, so jni.h picks ours up.
  set(CCOVER_JNI_INCLUDES
    "${CMAKE_CURRENT_LIST_DIR}/../platform/windows/include"
    "${CCOVER_HOST_JDK}/include")
else()
  set(CCOVER_JNI_INCLUDES "${CCOVER_HOST_JDK}/include" "${CCOVER_HOST_JDK}/include/linux")
endif()

find_program(CCOVER_JAVAC javac HINTS "${CCOVER_HOST_JDK}/bin" NO_DEFAULT_PATH
  NO_CMAKE_FIND_ROOT_PATH)
find_program(CCOVER_JAR jar HINTS "${CCOVER_HOST_JDK}/bin" NO_DEFAULT_PATH
  NO_CMAKE_FIND_ROOT_PATH)
if(NOT CCOVER_JAVAC OR NOT CCOVER_JAR)
  message(FATAL_ERROR "javac/jar not found in ${CCOVER_HOST_JDK}/bin")
endif()

if(WIN32)
  set(CCOVER_TARGET_JDK "" CACHE PATH "JDK whose libjvm the tests load")
  set(CCOVER_LIBJVM "")
else()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(_ccover_default_jdk "/usr/lib/jvm/java-17-openjdk-i386")
  else()
    set(_ccover_default_jdk "/usr/lib/jvm/java-17-openjdk-amd64")
  endif()
  set(CCOVER_TARGET_JDK "${_ccover_default_jdk}" CACHE PATH "JDK whose libjvm the tests load")
  set(CCOVER_LIBJVM "${CCOVER_TARGET_JDK}/lib/server/libjvm.so")
  if(NOT EXISTS "${CCOVER_LIBJVM}")
    message(WARNING "libjvm not found at ${CCOVER_LIBJVM}: the JVM tests will fail")
  endif()
endif()

# Compiles Java sources into a jar:
#   ccover_add_jar(<target> OUTPUT <jar> SOURCES <files...> [CLASSPATH <jars...>]
#                  [DEPENDS <targets...>] [RESOURCE_ROOT <dir> RESOURCES <files...>])
# Resources are stored at their path relative to RESOURCE_ROOT.
function(ccover_add_jar target)
  cmake_parse_arguments(ARG "" "OUTPUT;RESOURCE_ROOT"
    "SOURCES;CLASSPATH;DEPENDS;RESOURCES;JAVAC_ARGS" ${ARGN})
  # --release 11 unless the jar needs the JDK's internal packages, which
  # --release can't export: then JAVAC_ARGS says how it is compiled.
  set(release_args --release 11)
  if(ARG_JAVAC_ARGS)
    set(release_args ${ARG_JAVAC_ARGS})
  endif()
  set(classes "${CMAKE_CURRENT_BINARY_DIR}/${target}.classes")
  set(cp_args)
  if(ARG_CLASSPATH)
    list(JOIN ARG_CLASSPATH ":" cp)
    set(cp_args -classpath "${cp}")
  endif()
  set(copy_resources)
  foreach(resource ${ARG_RESOURCES})
    file(RELATIVE_PATH relative "${ARG_RESOURCE_ROOT}" "${resource}")
    list(APPEND copy_resources COMMAND "${CMAKE_COMMAND}" -E copy "${resource}"
         "${classes}/${relative}")
  endforeach()
  add_custom_command(
    OUTPUT "${ARG_OUTPUT}"
    COMMAND "${CMAKE_COMMAND}" -E rm -rf "${classes}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${classes}"
    COMMAND "${CCOVER_JAVAC}" ${release_args} -encoding UTF-8 -nowarn -d "${classes}" ${cp_args}
            ${ARG_SOURCES}
    ${copy_resources}
    COMMAND "${CCOVER_JAR}" cf "${ARG_OUTPUT}" -C "${classes}" .
    DEPENDS ${ARG_SOURCES} ${ARG_RESOURCES} ${ARG_CLASSPATH} ${ARG_DEPENDS}
    COMMENT "Building ${ARG_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${ARG_OUTPUT}")
endfunction()
