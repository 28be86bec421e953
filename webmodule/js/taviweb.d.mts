// Types of taviweb.mjs: those of taviweb-api.d.ts, and the library as the
// default export.
import * as TaviWeb from './taviweb-api.js';
export * from './taviweb-api.js';
export default TaviWeb;
