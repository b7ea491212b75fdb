// Shared helpers of the test suite (loopback HTTP server, temp folders).
