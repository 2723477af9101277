// The form object: name, caption, visibility, window state, focus, closing, and its components.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
assert(screen.name === "frmRecCont", screen.name);
assert(screen.caption === "Recálculo da Contabilização de Contas a Receber", screen.caption);
assert(screen.visible === true, "visible");
assert(screen.windowState === "normal", screen.windowState);
assert(screen.focused === "medCdEmpresa", "the activation puts the focus in the company: " + screen.focused);

screen.setWindowState("minimized");
assert(screen.windowState === "minimized", screen.windowState);
assert(screen.visible === true, "a minimised screen is still open");
shell.open("REC00800");
assert(screen.windowState === "normal", "opening it again restores it: " + screen.windowState);
screen.setWindowState("maximized");
assert(screen.windowState === "maximized", screen.windowState);
screen.setWindowState("normal");
// A state change is no focus change: the empty company field keeps the focus, its panel's exit
// does not run ("Empresa deve ser informada.").
screen.setWindowState("minimized");
screen.setWindowState("normal");
assert(shell.messages.length === 0, "no message from a window state change: " + JSON.stringify(shell.messages));
assert(screen.focused === "medCdEmpresa", "the focus is back in the company field: " + screen.focused);

var thrown = [];
function expectThrow(what, fn) {
    try {
        fn();
        thrown.push(what + ": nothing thrown");
    } catch (e) {
        if (String(e).indexOf("frmRecCont") < 0)
            thrown.push(what + ": " + e);
    }
}
expectThrow("control", function () { screen.control("naoExiste"); });
expectThrow("dataset", function () { screen.dataset("naoExiste"); });
expectThrow("component", function () { screen.component("naoExiste"); });
expectThrow("dataset of a control", function () { screen.dataset("medCdEmpresa"); });
expectThrow("control of a dataset", function () { screen.control("cdsContRec"); });
assert(thrown.length === 0, thrown.join("; "));
var state = "";
try {
    screen.setWindowState("enorme");
} catch (e) {
    state = String(e);
}
assert(state.indexOf("enorme") >= 0, "a bad window state throws: " + state);

// The names that the base screen's components carry.
["sbtConfirmar", "sbtVerificar", "sbtProcurar", "sbtFormulario", "sbtImprimir", "sbtAjuda", "sbtFechar",
 "mnuConfirmar", "mnuVerificar", "mnuProcurar", "mnuFormulario", "mnuListagem", "mnuConfigImpressora",
 "mnuManutencao", "panNavigator", "pgcPadrao", "tshFolhaDados", "tshFormulario", "dbgPadrao"].forEach(function (n) {
    assert(screen.control(n).name === n, n);
});
assert(!screen.control("sbtFormulario").enabled && !screen.control("mnuFormulario").enabled, "no record command without rows");

// Any other component, with its Qt properties.
var marked = screen.component("klContMarcadas");
assert(marked.count === 0, "the marked list starts empty: " + marked.count);
assert(screen.component("netRecCont").serverName === "REC00800.rdmRecCont", "the connection's server name");
assert(screen.dataset("qryEmpresa").fields.length === 3, "a query is read as a dataset");

// Closing frees the screen: form() finds nothing, the old object reads as closed.
screen.close();
assert(screen.visible === false, "closed");
assert(shell.form("frmRecCont") === null, "the screen is freed");
var gone = "";
try {
    screen.control("medCdEmpresa");
} catch (e) {
    gone = String(e);
}
assert(gone.indexOf("fechado") >= 0, "a freed form throws: " + gone);

// Opening again makes a new screen with an empty company field.
shell.open("REC00800");
var again = shell.form("frmRecCont");
assert(again.control("medCdEmpresa").text === "", "a new screen starts empty");
assert(again.dataset("cdsContRec").active === false, "with the list closed");
