# Compiler flags shared by every target of the project.
add_library(orv_flags INTERFACE)
if(MSVC)
    target_compile_options(orv_flags INTERFACE /W4 /utf-8)
    if(ORV_WERROR)
        target_compile_options(orv_flags INTERFACE /WX)
    endif()
else()
    target_compile_options(orv_flags INTERFACE -Wall -Wextra)
    # GCC 12 sees overlapping copies in libstdc++'s own `"text" + std::string&&` once it inlines
    # deeply enough (the mingw-w64 build does, GCC bug 105651); the warning is fixed in GCC 13.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(orv_flags INTERFACE -Wno-restrict)
        # The mingw-w64 build folds FixedRecord<N>::setNumber of records of different sizes into one
        # body (its code does not depend on N) and then finds the larger size used on the smaller record.
        if(WIN32)
            target_compile_options(orv_flags INTERFACE -Wno-array-bounds)
        endif()
    endif()
    if(ORV_WERROR)
        target_compile_options(orv_flags INTERFACE -Werror)
    endif()
endif()

# Every target that takes these flags can include "orv_version.h" (orv::kProgramVersion).
configure_file(${PROJECT_SOURCE_DIR}/cmake/orv_version.h.in ${PROJECT_BINARY_DIR}/generated/orv_version.h @ONLY)
target_include_directories(orv_flags INTERFACE ${PROJECT_BINARY_DIR}/generated)

if(ORV_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

if(ORV_TSAN)
    # ThreadSanitizer cannot share a process with AddressSanitizer (nor with the fuzz targets,
    # which bring it).
    if(ORV_SANITIZE OR ORV_FUZZ)
        message(FATAL_ERROR "ORV_TSAN cannot be combined with ORV_SANITIZE or ORV_FUZZ: use a build tree of its own")
    endif()
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

# orv_add_library(name SOURCES ... [DEPS ...]): one static library per folder.
function(orv_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE orv_flags)
endfunction()
