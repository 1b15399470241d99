# A Debian package of everything cmake/Install.cmake installs, made by CPack:
#   cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
#         -DTS_BUILD_TESTS=OFF -DTS_BUILD_BENCHMARKS=OFF
#   cmake --build build-deb && (cd build-deb && cpack -G DEB)
# The prefix must be /usr: the units' ExecStart and the PAM file's place (/etc/pam.d) are
# configured from it. The shared libraries it needs (Qt, PAM) are found by dpkg-shlibdeps from
# the programs themselves; what they use without linking it is named here.
set(CPACK_PACKAGE_NAME taskscheduler)
set(CPACK_PACKAGE_VENDOR "Task Scheduler developers")
set(CPACK_PACKAGE_CONTACT "Task Scheduler developers <taskscheduler@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Scheduled tasks: service, component library and desktop application")
set(CPACK_PACKAGE_DESCRIPTION "A scheduling service (taskschedd) that keeps tasks on disk, computes when they run and runs their programs; the component library kvtask over it, with its CMake package config; the desktop application taskscheduler-demo and the command line taskschedctl.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The PAM file includes Debian's common-auth and common-account; the library's package config
# asks for Qt's CMake files, which only the development package has, so that is a suggestion.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libpam-runtime")
# Other computers are reached through the OpenSSH client; logind and the other system services
# are asked over the system bus.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "openssh-client, dbus")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-base-dev")
# The PAM file is a configuration file the administrator may change.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_GENERATOR DEB)
include(CPack)
