// A modal form without an onModal handler fails the run at once; the shell does not wait.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("btpEmpresa").click();
log("nunca");
