# Read by cpack before it builds the package. The DEB generator stamps every file, and the
# archive members, with SOURCE_DATE_EPOCH: the release's time from cmake/Packaging.cmake.
set(ENV{SOURCE_DATE_EPOCH} "${CPACK_WAGA_SOURCE_DATE_EPOCH}")
