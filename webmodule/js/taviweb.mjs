// taviweb.js as an ES module: the same library, as named exports and as the
// default export. Running the classic script as a module leaves it on the
// global (browsers and bundlers alike), where it is taken from at once.
import './taviweb.js';

const TaviWeb = globalThis.TaviWeb;
export default TaviWeb;
export const VERSION = TaviWeb.VERSION;
export const DEFAULTS = TaviWeb.DEFAULTS;
export const PAGE_FUNCTIONS = TaviWeb.PAGE_FUNCTIONS;
export const Client = TaviWeb.Client;
export const TaviWebError = TaviWeb.TaviWebError;
export const connect = TaviWeb.connect;
export const createClient = TaviWeb.createClient;
export const installPageFunctions = TaviWeb.installPageFunctions;
export const _reset = TaviWeb._reset;
