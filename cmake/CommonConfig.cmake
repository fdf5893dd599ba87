# Compile settings shared by every target of the project; linked, never set globally.
add_library(tellwick_settings INTERFACE)
target_compile_features(tellwick_settings INTERFACE cxx_std_20)
target_include_directories(tellwick_settings INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(tellwick_settings INTERFACE -Wall -Wextra -Wpedantic -Wshadow=local)
target_compile_definitions(tellwick_settings INTERFACE
    QT_NO_CAST_FROM_ASCII
    TELLWICK_VERSION="${PROJECT_VERSION}")
if(TELLWICK_WERROR)
    target_compile_options(tellwick_settings INTERFACE -Werror)
endif()
if(TELLWICK_SANITIZE)
    target_compile_options(tellwick_settings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(tellwick_settings INTERFACE -fsanitize=address,undefined)
endif()
set(CMAKE_CXX_EXTENSIONS OFF)
