# Installing (make install, make deb): the programs and their manual pages,
# the library with its header, its CMake package files and tarvel.pc, the
# README, and the Python package. CPack packs the same files into the Debian
# package tarvel_<version>_<arch>.deb. Every path is relative to the prefix.
include(CMakePackageConfigHelpers)

set(TARVEL_PYTHON_DIR lib/python3/dist-packages CACHE STRING
  "Where the Python package tarvel is installed, relative to the prefix")

install(TARGETS tarvel1 tarvel1-plot RUNTIME DESTINATION bin)
install(FILES README.md DESTINATION share/doc/tarvel)

# The library as the target tarvel::tarvel of find_package(tarvel), and for
# pkg-config; tarvel.pc finds its prefix from its own place.
install(TARGETS tarvel EXPORT tarvelTargets ARCHIVE DESTINATION lib)
install(DIRECTORY include/tarvel/ DESTINATION include/tarvel FILES_MATCHING PATTERN "*.h")
install(EXPORT tarvelTargets NAMESPACE tarvel:: DESTINATION lib/cmake/tarvel)
configure_package_config_file(cmake/tarvelConfig.cmake.in tarvelConfig.cmake INSTALL_DESTINATION lib/cmake/tarvel)
write_basic_package_version_file(tarvelConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tarvelConfig.cmake ${PROJECT_BINARY_DIR}/tarvelConfigVersion.cmake
  DESTINATION lib/cmake/tarvel)
configure_file(cmake/tarvel.pc.in tarvel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tarvel.pc DESTINATION lib/pkgconfig)

# The manual pages, made by help2man from the programs' --help and --version.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(tarvel1_summary "calibration curve of detection efficiency against a quenching index, with uncertainties")
  set(tarvel1-plot_summary "draw the calibration of a tarvel1 run as an SVG picture")
  foreach(program tarvel1 tarvel1-plot)
    add_custom_command(OUTPUT man/${program}.1.gz
      COMMAND ${HELP2MAN} --no-info --section=1 "--name=${${program}_summary}"
        --output=man/${program}.1 $<TARGET_FILE:${program}>
      COMMAND gzip -9nf man/${program}.1
      DEPENDS ${program} VERBATIM)
    list(APPEND man_pages ${PROJECT_BINARY_DIR}/man/${program}.1.gz)
  endforeach()
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man)
  add_custom_target(tarvel_man ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION share/man/man1)
endif()

# The Python package: the pure-Python files of build/python/tarvel/ and the
# extension tarvel._tarvel.
if(TARGET tarvel_python)
  install(TARGETS tarvel_python LIBRARY DESTINATION ${TARVEL_PYTHON_DIR}/tarvel)
  install(DIRECTORY ${PROJECT_BINARY_DIR}/python/tarvel/ DESTINATION ${TARVEL_PYTHON_DIR}/tarvel
    FILES_MATCHING PATTERN "*.py" PATTERN "*.pyi" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)
endif()

# The README's C++ example built as an outside project against an installed
# tree, with find_package and with pkg-config (not in the sanitized builds,
# whose archive needs the sanitizers' run-time that an outside project lacks).
if(TARVEL_TESTS AND NOT TARVEL_SANITIZE AND NOT TARVEL_SANITIZE_THREAD)
  add_test(NAME InstalledConsumers COMMAND sh tests/consumers.sh
    ${PROJECT_BINARY_DIR}/readme_example.cpp ${PROJECT_BINARY_DIR})
  set_tests_properties(InstalledConsumers PROPERTIES WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    PASS_REGULAR_EXPRESSION "find_package:\n(a\\([1-3]\\) = -?0\\.[0-9]+ [^\n]+\n)+e\\(50\\) = 0\\.[0-9]+ [^\n]+\npkg-config:\n(a\\([1-3]\\) = -?0\\.[0-9]+ [^\n]+\n)+e\\(50\\) = 0\\.[0-9]+ ")
endif()

# make deb: one package, tarvel, installed under /usr. dpkg-shlibdeps names
# the C and C++ libraries; the Python package needs the interpreter it was
# built for and numpy. Its removal takes the bytecode Python left beside it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvel)
set(CPACK_PACKAGE_CONTACT "tarvel1 maintainers <tarvel1@localhost>" CACHE STRING "The package's maintainer")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "calibration curves of detection efficiency against a quenching index, with uncertainties")
set(CPACK_PACKAGE_DESCRIPTION "tarvel1 fits a liquid-scintillation counter's detection efficiency against
a quenching index by weighted least squares, refits it in 10000 seeded Monte
Carlo trials that perturb both coordinates, and answers efficiency queries
with their standard uncertainties; tarvel1-plot draws the calibration as an
SVG picture. The calibration is also a C++ library (find_package(tarvel),
pkg-config tarvel) and the Python package tarvel.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET tarvel_python)
  math(EXPR next_minor "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}), python3 (<< ${Python3_VERSION_MAJOR}.${next_minor}), python3-numpy")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
include(CPack)
