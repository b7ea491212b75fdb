// Window sources come here.
