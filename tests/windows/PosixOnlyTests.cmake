# Read by CTest after the discovered tests: cases whose expectations hold on POSIX only.
set_tests_properties(ReportWrite.AnUnwritableLocationLeavesNothingBehind PROPERTIES DISABLED TRUE)
