// Network sources come here.
