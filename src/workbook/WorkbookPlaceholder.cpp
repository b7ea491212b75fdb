// Workbook sources come here.
