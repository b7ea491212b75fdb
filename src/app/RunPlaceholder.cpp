// Replaced by the run controller.
