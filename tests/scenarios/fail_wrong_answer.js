// An answer that is no button of the question fails the run at the action that asked it.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("01");
screen.control("dbgPadrao").focus();
shell.answer("OK");
screen.control("dbgPadrao").titleClick("IDMARCADO");
log("nunca");
